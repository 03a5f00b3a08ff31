#include "tunnel/pptpclient.h"

#include "platform/dialupppp.h"
#include "platform/processlist.h"
#include "platform/prompter.h"
#include "platform/vici.h"
#include "support/testhome.h"
#include "support/vicistandin.h"
#include "tunneltestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kFakes = QStringLiteral(KVO_TUNNEL_FAKES_DIR);

DialUpPrograms fakePrograms(const QString &viciSocket)
{
    return {kFakes + QStringLiteral("/pppd"),
            QStringLiteral("/usr/sbin/pptp"),
            kFakes + QStringLiteral("/xl2tpd"),
            kFakes + QStringLiteral("/swanctl"),
            QString(),
            viciSocket};
}

// A program folder, the stand-in programs with a folder for what they were
// given, and interface counters of our own.
struct DialRig
{
    TestHome home;
    QTemporaryDir log;
    QTemporaryDir sys;
    ScriptedPrompter prompter;
    // pppd's file of the peer's DNS servers (the stand-in writes it).
    const QString peerDnsFile = log.path() + QStringLiteral("/resolv.conf");
    ViciStandIn charon {log.path()};
    PppDialUp dialUp {fakePrograms(charon.path()), sys.path(), nullptr, peerDnsFile};
    PptpClient client;
    TunnelNotifier notifier;
    NoticeLog notices {notifier};

    explicit DialRig(unsigned type) : client(type, dialUp, prompter)
    {
        qputenv("KVO_FAKE_LOG", log.path().toUtf8());
        QDir().mkpath(sys.path() + QStringLiteral("/ppp0/statistics"));
        writeCounter("tx_bytes", "1536\n");
        writeCounter("rx_bytes", "2048\n");
    }
    ~DialRig()
    {
        client.Disconnect();
        QTest::qWait(50); // charon's answers to the last unloads
        qunsetenv("KVO_FAKE_LOG");
    }
    void writeCounter(const char *name, const QByteArray &value)
    {
        QFile f(sys.path() + QStringLiteral("/ppp0/statistics/") + QLatin1String(name));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(value);
    }
    QByteArray logged(const char *name) const
    {
        return readFile(log.path() + QLatin1Char('/') + QLatin1String(name));
    }
    int connect(const char *server)
    {
        return client.Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("s3cr\"et pw"),
                              QString::fromUtf8(server));
    }
    bool waitFor(int state)
    {
        return waitUntil([&] {
            for (const auto &n : notices.ras)
                if (n.first == state || n.second != 0)
                    return true;
            return false;
        });
    }
    unsigned lastError() const { return notices.ras.isEmpty() ? 0 : notices.ras.last().second; }
};

const QList<QPair<int, int>> kUpSequence = {{1, 0},  {3, 0},  {5, 0},     {14, 0},
                                            {10, 0}, {18, 0}, {0x2000, 0}};

} // namespace

TEST(DialUpEntry, PptpAndL2tpEntriesDifferOnlyWhereTheyMust)
{
    DialRig pptp(1);
    ASSERT_EQ(pptp.connect("up.pptp"), 0);
    Ras::Entry e;
    QString psk;
    ASSERT_TRUE(PppDialUp::readEntry(pptp.client.phoneBookPath(), QStringLiteral("KVO"), &e, &psk));
    EXPECT_EQ(pptp.client.phoneBookPath(), pptp.home.file(QStringLiteral("KVORasEntry")));
    EXPECT_EQ(e.options, 0x30010010u);
    EXPECT_EQ(e.localPhoneNumber, QStringLiteral("up.pptp"));
    EXPECT_EQ(e.netProtocols, 4u);
    EXPECT_EQ(e.framingProtocol, 1u);
    EXPECT_EQ(e.deviceType, QStringLiteral("vpn"));
    EXPECT_EQ(e.type, 2u);
    EXPECT_EQ(e.encryptionType, 0u);
    EXPECT_EQ(e.vpnStrategy, 1u);
    EXPECT_EQ(e.options2, 0u);
    EXPECT_TRUE(psk.isEmpty());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(pptp.client.phoneBookPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const QByteArray book = pptp.home.read(QStringLiteral("KVORasEntry"));
    EXPECT_FALSE(book.contains("kvouser"));
    EXPECT_FALSE(book.contains("et pw"));
    pptp.client.Disconnect();

    // The same entry, rewritten for L2TP with another server.
    PptpClient l2tp(3, pptp.dialUp, pptp.prompter);
    ASSERT_EQ(l2tp.Connect(&pptp.notifier, QStringLiteral("kvouser"), QStringLiteral("pw"),
                           QStringLiteral("up.l2tp")),
              0);
    Ras::Entry e3;
    ASSERT_TRUE(PppDialUp::readEntry(l2tp.phoneBookPath(), QStringLiteral("KVO"), &e3, &psk));
    EXPECT_EQ(e3.options, 0x28010010u);
    EXPECT_EQ(e3.encryptionType, 3u);
    EXPECT_EQ(e3.vpnStrategy, 3u);
    EXPECT_EQ(e3.options2, 0x10u);
    EXPECT_EQ(psk, QStringLiteral("Q8MZpassage"));
    EXPECT_EQ(e3.localPhoneNumber, QStringLiteral("up.l2tp"));
    Ras::Entry rest = e3;
    rest.options = e.options;
    rest.encryptionType = e.encryptionType;
    rest.vpnStrategy = e.vpnStrategy;
    rest.options2 = e.options2;
    rest.localPhoneNumber = e.localPhoneNumber;
    EXPECT_EQ(rest, e);
    l2tp.Disconnect();
}

TEST(DialUpPptp, ProgressStatesAddressCountersAndHangUp)
{
    DialRig rig(1);
    ASSERT_EQ(rig.connect("up.pptp"), 0);
    ASSERT_TRUE(rig.waitFor(0x2000));
    EXPECT_EQ(rig.notices.ras, kUpSequence);
    EXPECT_EQ(rig.client.GetAssignedIp(), QStringLiteral("10.7.0.5"));
    EXPECT_EQ(rig.client.GetStatistics(), QStringLiteral("송신 : 1.50 KByte\n수신 : 2.00 KByte"));
    rig.writeCounter("tx_bytes", "0\n");
    EXPECT_EQ(rig.client.GetStatistics(), QStringLiteral("송신 : 0.00 KByte\n수신 : 2.00 KByte"));
    EXPECT_EQ(rig.client.refreshStatus(), 0u);
    EXPECT_EQ(rig.client.status().state, 0x2000);

    // Credentials only in pppd's private options file, never on its command line.
    const QByteArray args = rig.logged("pppd.args");
    EXPECT_FALSE(args.contains("kvouser"));
    EXPECT_FALSE(args.contains("et pw"));
    EXPECT_TRUE(args.contains("ipparam\nKVO\n"));
    EXPECT_EQ(rig.logged("pppd.optmode").trimmed(), QByteArray("600"));
    const QByteArray options = rig.logged("pppd.options");
    EXPECT_TRUE(options.contains("name \"kvouser\"\n"));
    EXPECT_TRUE(options.contains("password \"s3cr\\\"et pw\"\n"));
    EXPECT_TRUE(options.contains("refuse-pap\n"));
    EXPECT_TRUE(options.contains("refuse-chap\n")); // MS-CHAP v2 only for PPTP
    EXPECT_TRUE(options.contains("require-mppe-128\n")); // never in the clear
    // The default route through the link, also over the machine's own.
    EXPECT_TRUE(options.contains("defaultroute\nreplacedefaultroute\n"));
    // The peer's DNS servers asked for, and the system's ip-up and ip-down
    // hooks (which would rewrite resolv.conf with them) not run: the scripts
    // named are in the private folder, and are not there.
    EXPECT_TRUE(options.contains("usepeerdns\n"));
    const QString dir = QString::fromUtf8(args)
                            .section(QStringLiteral("file\n"), 1)
                            .section(QLatin1Char('\n'), 0, 0)
                            .section(QLatin1Char('/'), 0, -2);
    for (const char *script : {"ip-up-script", "ip-down-script"}) {
        const QString path = QString::fromUtf8(options)
                                 .section(QLatin1String(script) + QLatin1String(" \""), 1)
                                 .section(QLatin1Char('"'), 0, 0);
        EXPECT_TRUE(path.startsWith(dir + QLatin1Char('/'))) << script << " " << path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path)) << script;
    }
    EXPECT_EQ(rig.client.pushedDns().servers, QStringList {QStringLiteral("10.7.0.53")});
    EXPECT_TRUE(rig.client.pushedDns().domains.isEmpty());
    // A host name: pptp keeps its own host route to it.
    EXPECT_TRUE(args.contains("\"/usr/sbin/pptp\" up.pptp --nolaunchpppd\n"));
    QString protection;
    EXPECT_EQ(rig.dialUp.getProtection(rig.client.handle(), &protection), 0u);
    EXPECT_EQ(protection, QStringLiteral("MPPE 128-bit stateless"));
    EXPECT_EQ(rig.client.protection(), protection);

    const QString optionsPath = QString::fromUtf8(args)
                                    .section(QStringLiteral("file\n"), 1)
                                    .section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(QFileInfo::exists(optionsPath));
    const qint64 pppd = rig.logged("pppd.pid").trimmed().toLongLong();
    rig.client.Disconnect();
    EXPECT_EQ(rig.client.refreshStatus(), unsigned(Ras::InvalidHandle));
    EXPECT_FALSE(ProcessList::isRunning(pid_t(pppd)));
    EXPECT_FALSE(QFileInfo::exists(optionsPath)); // the secrets are gone with the link
    EXPECT_FALSE(QFileInfo::exists(rig.peerDnsFile)); // pppd's file, absent before
    EXPECT_TRUE(rig.client.pushedDns().servers.isEmpty());
    EXPECT_TRUE(rig.client.GetAssignedIp().isEmpty());
    // A hang-up is no dial failure.
    QTest::qWait(50);
    EXPECT_EQ(rig.lastError(), 0u);
}

// pppd writes the peer's DNS servers into its file when the link comes up:
// after our last link the file is as it was, unless another program has
// written it since.
TEST(DialUpPptp, PppdsDnsFileIsPutBackAfterTheLink)
{
    const struct
    {
        const char *before; // nullptr: no file
        const char *during; // written while the link is up; nullptr: pppd's stays
        const char *after; // nullptr: no file
    } cases[] = {
        {"nameserver 192.0.2.1\n", nullptr, "nameserver 192.0.2.1\n"},
        {"", nullptr, ""},
        {nullptr, "nameserver 192.0.2.9\n", "nameserver 192.0.2.9\n"},
        {"nameserver 192.0.2.1\n", "# the administrator's\n", "# the administrator's\n"},
    };
    for (const auto &c : cases) {
        DialRig rig(1);
        if (c.before)
            writeFile(rig.peerDnsFile, c.before);
        ASSERT_EQ(rig.connect("up.pptp"), 0);
        ASSERT_TRUE(rig.waitFor(0x2000));
        EXPECT_EQ(readFile(rig.peerDnsFile), QByteArray("nameserver 10.7.0.53\n"));
        if (c.during)
            writeFile(rig.peerDnsFile, c.during);
        rig.client.Disconnect();
        EXPECT_EQ(QFileInfo::exists(rig.peerDnsFile), c.after != nullptr) << c.before;
        if (c.after) {
            EXPECT_EQ(readFile(rig.peerDnsFile), QByteArray(c.after));
        }
    }

    // The real pppd's lines, and the file it wrote: the one server the peer
    // gave, said (and written) twice.
    DialRig real(1);
    ASSERT_EQ(real.connect("replay-pptp-main-root"), 0);
    ASSERT_TRUE(waitUntil([&] { return real.client.refreshStatus() == Ras::InvalidHandle; }));
    EXPECT_FALSE(QFileInfo::exists(real.peerDnsFile));
}

// The server goes into pppd's pty command, which /bin/sh runs, into charon's
// connection and into xl2tpd's file: only an IPv4 address or a host name gets there.
// The driver refuses anything else before it writes the entry, and the
// layer refuses an entry that holds one (an edited phone book).
TEST(DialUpServerAddress, AnythingButAnAddressOrAHostNameIsRefusedWith868)
{
    const char *bad[] = {"up.pptp; touch /tmp/kvo-pwned",
                         "$(reboot)",
                         "up.pptp --x",
                         "-oProxyCommand",
                         "up.l2tp\nlns = evil",
                         "\"up.pptp\"",
                         "",
                         "1.2.3"};
    for (unsigned type : {1u, 3u}) {
        for (const char *server : bad) {
            SCOPED_TRACE(std::string(server) + (type == 1 ? " pptp" : " l2tp"));
            DialRig rig(type);
            EXPECT_EQ(rig.connect(server), 868);
            Ras::Entry e;
            EXPECT_FALSE(
                PppDialUp::readEntry(rig.client.phoneBookPath(), QStringLiteral("KVO"), &e));
            EXPECT_TRUE(QDir(rig.log.path()).isEmpty()); // no program ran

            // Written behind the driver's back: the dial refuses it. (A line
            // break does not survive the phone book's own format.)
            if (QByteArray(server).contains('\n'))
                continue;
            ASSERT_EQ(rig.dialUp.setEntryProperties(
                          rig.client.phoneBookPath(), QStringLiteral("KVO"),
                          PptpClient::entryFor(type, QString::fromUtf8(server))),
                      0u);
            if (type != 1) {
                ASSERT_EQ(rig.dialUp.setPreSharedKey(rig.client.phoneBookPath(),
                                                     QStringLiteral("KVO"),
                                                     PptpClient::kPreSharedKey),
                          0u);
            }
            Ras::Handle handle = 0;
            EXPECT_EQ(rig.dialUp.dial(
                          rig.client.phoneBookPath(),
                          {QStringLiteral("KVO"), QStringLiteral("u"), QStringLiteral("p")},
                          [](int, unsigned) {}, &handle),
                      868u);
            EXPECT_EQ(handle, Ras::Handle(0));
            EXPECT_TRUE(QDir(rig.log.path()).isEmpty());
            EXPECT_TRUE(rig.notices.ras.isEmpty());
        }
    }
}

// An empty user or password never reaches pppd, which would look the
// secret up in the system's secrets files instead.
TEST(DialUpCredentials, AnEmptyUserOrPasswordIsRefusedBeforeAnyProgramRuns)
{
    for (unsigned type : {1u, 3u}) {
        for (const auto &[user, password] : {std::pair {QStringLiteral("u"), QString()},
                                             std::pair {QString(), QStringLiteral("p")}}) {
            DialRig rig(type);
            ASSERT_EQ(rig.dialUp.setEntryProperties(
                          rig.client.phoneBookPath(), QStringLiteral("KVO"),
                          PptpClient::entryFor(type, QStringLiteral("up.pptp"))),
                      0u);
            Ras::Handle handle = 0;
            EXPECT_EQ(rig.dialUp.dial(
                          rig.client.phoneBookPath(), {QStringLiteral("KVO"), user, password},
                          [](int, unsigned) {}, &handle),
                      unsigned(Ras::AuthenticationFailure));
            EXPECT_EQ(handle, Ras::Handle(0));
            EXPECT_TRUE(QDir(rig.log.path()).isEmpty()); // no program ran
        }
    }
}

TEST(DialUpL2tp, IpsecThenXl2tpdWithSecretsInPrivateFiles)
{
    DialRig rig(3);
    ASSERT_EQ(rig.connect("up.l2tp"), 0);
    ASSERT_TRUE(rig.waitFor(0x2000));
    EXPECT_EQ(rig.notices.ras, kUpSequence);
    EXPECT_EQ(rig.client.GetAssignedIp(), QStringLiteral("10.7.1.9"));

    // The link's own connection and key, loaded through charon's socket.
    ASSERT_EQ(rig.charon.commands(), QList<QByteArray>({"load-conn", "load-shared"}));
    const auto conn = rig.charon.requests.at(0).fields;
    ASSERT_FALSE(conn.isEmpty());
    const QByteArray name = conn.firstKey().split('.').first();
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^kvo-%1-[0-9]+$").arg(QCoreApplication::applicationPid()))
                    .match(QString::fromLatin1(name))
                    .hasMatch())
        << name.constData();
    const QByteArray child = name + ".children." + name;
    // What an L2TP/IPsec server set up for the Windows client accepts, first.
    const QMap<QByteArray, QByteArray> wantedConn {
        {name + ".remote_addrs", "[up.l2tp]"},
        {name + ".version", "1"},
        {name + ".proposals",
         "[aes256-sha1-modp2048,aes128-sha1-modp2048,aes256-sha1-modp1024,aes128-sha1-modp1024,"
         "3des-sha1-modp1024,default]"},
        {name + ".local.auth", "psk"},
        {name + ".remote.auth", "psk"},
        {child + ".mode", "transport"},
        {child + ".esp_proposals", "[aes256-sha1,aes128-sha1,3des-sha1,default]"},
        {child + ".local_ts", "[dynamic[udp/1701]]"},
        {child + ".remote_ts", "[dynamic[udp/1701]]"},
    };
    EXPECT_EQ(conn, wantedConn);
    // The key as it is (no quoting, no 0x or 0s decoding); a host name owns
    // no key.
    const QMap<QByteArray, QByteArray> wantedSecret {
        {"id", name}, {"type", "IKE"}, {"data", "Q8MZpassage"}};
    EXPECT_EQ(rig.charon.requests.at(1).fields, wantedSecret);
    EXPECT_EQ(rig.logged("swanctl.initiate"),
              "--initiate\n--child\n" + name + "\n--ike\n" + name + "\n--timeout\n20\n");

    EXPECT_EQ(rig.logged("xl2tpd.confmode").trimmed(), QByteArray("600"));
    EXPECT_TRUE(rig.logged("xl2tpd.conf").contains("lns = up.l2tp\n"));
    EXPECT_EQ(rig.logged("xl2tpd.optmode").trimmed(), QByteArray("600"));
    EXPECT_TRUE(rig.logged("xl2tpd.options").contains("password \"s3cr\\\"et pw\""));
    EXPECT_FALSE(rig.logged("xl2tpd.options").contains("refuse-chap"));
    EXPECT_FALSE(rig.logged("xl2tpd.options").contains("mppe")); // IPsec encrypts
    EXPECT_FALSE(rig.logged("xl2tpd.args").contains("kvouser"));
    EXPECT_EQ(rig.client.protection(), QStringLiteral("IPsec ESP AES_CBC_256/HMAC_SHA1_96"));

    // Hanging up ends the link's security associations and unloads what it
    // loaded, by its name.
    rig.client.Disconnect();
    EXPECT_EQ(rig.client.refreshStatus(), unsigned(Ras::InvalidHandle));
    ASSERT_TRUE(waitUntil([&] { return rig.charon.requests.size() == 5; }));
    EXPECT_EQ(rig.charon.commands(),
              QList<QByteArray>(
                  {"load-conn", "load-shared", "terminate", "unload-conn", "unload-shared"}));
    EXPECT_EQ(rig.charon.requests.at(2).fields,
              (QMap<QByteArray, QByteArray> {{"ike", name}, {"timeout", "-1"}}));
    EXPECT_EQ(rig.charon.requests.at(3).fields, (QMap<QByteArray, QByteArray> {{"name", name}}));
    EXPECT_EQ(rig.charon.requests.at(4).fields, (QMap<QByteArray, QByteArray> {{"id", name}}));
    EXPECT_TRUE(rig.charon.conns.isEmpty());
    EXPECT_TRUE(rig.charon.secrets.isEmpty());
}

// Links of their own in one charon: one link's end, or a failed dial, takes
// nothing of another's, nor of the administrator's connections and keys.
TEST(DialUpL2tp, EachLinkLoadsAndUnloadsOnlyItsOwn)
{
    DialRig rig(3);
    rig.charon.conns = {"office"};
    rig.charon.secrets = {"office-key"};
    auto dial = [&](const char *entry, const char *server, QList<QPair<int, unsigned>> *notes) {
        EXPECT_EQ(
            rig.dialUp.setEntryProperties(rig.client.phoneBookPath(), QString::fromLatin1(entry),
                                          PptpClient::entryFor(3, QString::fromLatin1(server))),
            0u);
        EXPECT_EQ(rig.dialUp.setPreSharedKey(rig.client.phoneBookPath(), QString::fromLatin1(entry),
                                             QStringLiteral("psk")),
                  0u);
        Ras::Handle handle = 0;
        EXPECT_EQ(rig.dialUp.dial(
                      rig.client.phoneBookPath(),
                      {QString::fromLatin1(entry), QStringLiteral("u"), QStringLiteral("p")},
                      [notes](int state, unsigned error) {
                          notes->append({state, error});
                      },
                      &handle),
                  0u);
        return handle;
    };
    auto reached = [](const QList<QPair<int, unsigned>> &notes, int state) {
        return notes.contains(qMakePair(state, 0u));
    };
    QList<QPair<int, unsigned>> one, two, failed;
    const Ras::Handle first = dial("KVO", "up.one", &one);
    ASSERT_TRUE(waitUntil([&] { return reached(one, Ras::Connected); }));
    const Ras::Handle second = dial("KVO2", "up.two", &two);
    ASSERT_TRUE(waitUntil([&] { return reached(two, Ras::Connected); }));
    dial("KVO3", "192.0.2.7", &failed); // no L2TP server there
    ASSERT_TRUE(waitUntil([&] { return !failed.isEmpty() && failed.last().second != 0; }));
    EXPECT_EQ(failed.last().second, unsigned(Ras::NoAnswer));

    QList<QByteArray> names;
    for (const auto &r : std::as_const(rig.charon.requests))
        if (r.command == "load-shared")
            names.append(r.fields.value("id"));
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(QSet<QByteArray>(names.begin(), names.end()).size(), 3);
    // A server's address owns its key, which so wins over the machine's
    // keys for any server.
    bool owned = false;
    for (const auto &r : std::as_const(rig.charon.requests))
        owned |= r.command == "load-shared" && r.fields.value("owners") == "[192.0.2.7]";
    EXPECT_TRUE(owned);
    ASSERT_TRUE(waitUntil([&] { return rig.charon.conns.size() == 3; }));
    EXPECT_EQ(rig.charon.conns, QSet<QByteArray>({"office", names.at(0), names.at(1)}));

    ASSERT_EQ(rig.dialUp.hangUp(first), 0u);
    ASSERT_TRUE(waitUntil([&] { return rig.charon.conns.size() == 2; }));
    QTest::qWait(100);
    EXPECT_EQ(rig.charon.conns, QSet<QByteArray>({"office", names.at(1)}));
    EXPECT_EQ(rig.charon.secrets, QSet<QByteArray>({"office-key", names.at(1)}));
    // Every command names one of ours; nothing asks charon to unload all
    // (swanctl's --load-all would) or lists what others loaded.
    for (const auto &r : std::as_const(rig.charon.requests)) {
        SCOPED_TRACE(r.command.constData());
        EXPECT_TRUE(QList<QByteArray>(
                        {"load-conn", "load-shared", "terminate", "unload-conn", "unload-shared"})
                        .contains(r.command));
        const QByteArray named = r.fields.value("ike") + r.fields.value("name") +
            r.fields.value("id") + (r.fields.isEmpty() ? QByteArray() : r.fields.firstKey());
        EXPECT_TRUE(named.contains(names.at(0)) || named.contains(names.at(1)) ||
                    named.contains(names.at(2)));
    }
    ASSERT_EQ(rig.dialUp.hangUp(second), 0u);
    ASSERT_TRUE(waitUntil([&] { return rig.charon.conns.size() == 1; }));
}

// Without charon's answer there is no IPsec, and nothing is dialled in the
// clear: 711, and what was loaded goes again. A hang-up while charon thinks
// ends the dial at once.
TEST(DialUpL2tp, CharonMissingOrRefusingIs711AndAHangUpDoesNotWaitForIt)
{
    for (const char *refused : {"none", "load-conn", "load-shared"}) {
        SCOPED_TRACE(refused);
        DialRig rig(3);
        if (QByteArray(refused) == "none")
            QFile::remove(rig.charon.path()); // no charon listening
        else
            rig.charon.refuse = {refused};
        ASSERT_EQ(rig.connect("up.l2tp"), 0);
        ASSERT_TRUE(waitUntil([&] { return rig.lastError() != 0; }));
        EXPECT_EQ(rig.lastError(), 711u);
        EXPECT_FALSE(QFileInfo::exists(rig.log.path() + QStringLiteral("/xl2tpd.args")));
        EXPECT_FALSE(QFileInfo::exists(rig.log.path() + QStringLiteral("/swanctl.initiate")));
        QTest::qWait(100);
        EXPECT_TRUE(rig.charon.conns.isEmpty());
        EXPECT_TRUE(rig.charon.secrets.isEmpty());
    }

    DialRig rig(3);
    rig.charon.silent = true;
    ASSERT_EQ(rig.connect("up.l2tp"), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.charon.requests.size() == 1; }));
    QElapsedTimer t;
    t.start();
    rig.client.Disconnect();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(rig.client.refreshStatus(), unsigned(Ras::InvalidHandle));
    EXPECT_EQ(rig.lastError(), 0u);
}

// Each failure gets its error number. "replay-" servers replay what real
// servers made the real programs print (tests/data/dialup); the others are
// outcomes the dial-up stage's servers cannot give.
TEST(DialUpFailures, ReportTheirErrorNumbers)
{
    const struct
    {
        unsigned type;
        const char *server;
        unsigned error;
    } cases[] = {
        {1, "replay-pptp-wrong-password", Ras::AuthenticationFailure},
        {1, "replay-pptp-no-server", Ras::NoAnswer},
        {1, "replay-pptp-no-encryption", Ras::NoRemoteEncryption},
        {3, "replay-l2tp-wrong-password", Ras::AuthenticationFailure},
        {3, "replay-l2tp-no-server", Ras::VpnTimeout},
        {3, "replay-l2tp-wrong-key", Ras::SecurityNegotiation},
        {3, "replay-l2tp-no-encryption", Ras::SecurityNegotiation},
        {1, "nokernel.pptp", Ras::PppNoProtocolsConfigured}, // this machine without PPP
        {3, "silent.l2tp", Ras::NoAnswer}, // IPsec up, no L2TP server behind it
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server);
        DialRig rig(c.type);
        ASSERT_EQ(rig.connect(c.server), 0);
        ASSERT_TRUE(waitUntil([&] { return rig.lastError() != 0; }, 10000));
        EXPECT_EQ(rig.lastError(), c.error);
        EXPECT_EQ(rig.client.refreshStatus(), unsigned(Ras::InvalidHandle));
        EXPECT_FALSE(rig.notices.ras.contains(qMakePair(int(Ras::Connected), 0)));
    }
}

TEST(DialUpCloseExisting, HangsUpLeftoverKvoLinksOnly)
{
    DialRig rig(1);
    QObject owner;
    auto start = [&](const char *entry) {
        auto *p = new QProcess(&owner);
        p->start(kFakes + QStringLiteral("/pppd"),
                 {QStringLiteral("nodetach"), QStringLiteral("ipparam"), QString::fromUtf8(entry),
                  QStringLiteral("pty"),
                  QStringLiteral("\"/usr/sbin/pptp\" up.left --nolaunchpppd")});
        p->waitForStarted();
        return p;
    };
    QProcess *ours = start("KVO");
    QProcess *other = start("kvo");
    QList<Ras::Connection> list;
    int count = 0;
    ASSERT_TRUE(waitUntil([&] {
        rig.dialUp.enumConnections(&list, 20, &count);
        return count >= 2;
    }));
    rig.client.CloseExisting();
    EXPECT_TRUE(ours->waitForFinished(3000));
    QTest::qWait(200);
    EXPECT_EQ(other->state(), QProcess::Running);
    other->terminate();
    other->waitForFinished();
}

TEST(DialUpCloseExisting, MoreThanTwentyConnectionsHangUpNothing)
{
    DialRig rig(1);
    QObject owner;
    QList<QProcess *> links;
    for (int i = 0; i < 21; ++i) {
        auto *p = new QProcess(&owner);
        p->start(kFakes + QStringLiteral("/pppd"),
                 {QStringLiteral("nodetach"), QStringLiteral("ipparam"), QStringLiteral("KVO"),
                  QStringLiteral("pty"),
                  QStringLiteral("\"/usr/sbin/pptp\" up.many --nolaunchpppd")});
        p->waitForStarted();
        links.append(p);
    }
    int count = 0;
    ASSERT_TRUE(waitUntil([&] {
        rig.dialUp.enumConnections(nullptr, 0, &count);
        return count >= 21;
    }));
    rig.client.CloseExisting();
    QTest::qWait(300);
    for (QProcess *p : links)
        EXPECT_EQ(p->state(), QProcess::Running);
    for (QProcess *p : links)
        p->terminate();
    for (QProcess *p : links)
        p->waitForFinished();
}

TEST(DialUpDisconnect, NeverDialledReturnsAtOnce)
{
    DialRig rig(1);
    QElapsedTimer t;
    t.start();
    rig.client.Disconnect();
    EXPECT_LT(t.elapsed(), 100);
    EXPECT_TRUE(rig.client.GetAssignedIp().isEmpty());
    EXPECT_EQ(rig.client.GetStatistics(), QStringLiteral("송신 : 0.00 KByte\n수신 : 0.00 KByte"));
}

// The programs' lines as the dial reads them. An interface that is no plain
// name would put a path under /sys/class/net, and a local address that is no
// dotted address would reach the main window as the tunnel's address: both
// are no event.
TEST(DialUpOutput, LinesGiveTheirEventsAndOddValuesNone)
{
    using L = PppOutput::Line;
    const struct
    {
        const char *line;
        L::Kind kind;
        const char *value;
        int status;
    } cases[] = {
        {"Using interface ppp0", L::Interface, "ppp0", -1},
        {"Using interface ../../../etc", L::None, "", -1},
        {"Using interface ..", L::None, "", -1},
        {"Using interface averyveryverylongname", L::None, "", -1},
        {"Connect: ppp1 <--> /dev/pts/3", L::DeviceConnected, "ppp1", -1},
        {"Connect: ../x <--> /dev/pts/3", L::DeviceConnected, "", -1},
        {"CHAP authentication succeeded", L::Authenticated, "", -1},
        {"local  IP address 10.7.0.5", L::LocalAddress, "10.7.0.5", -1},
        {"local  IP address 10.7.0.5;reboot", L::None, "", -1},
        {"local  IP address 0x0a070005", L::None, "", -1},
        {"local  IP address 10.7.0.256", L::None, "", -1},
        {"primary   DNS address 10.201.0.53", L::PeerDns, "10.201.0.53", -1},
        {"secondary DNS address 10.201.0.54", L::PeerDns, "10.201.0.54", -1},
        {"primary   DNS address 10.201.0.53;reboot", L::None, "", -1},
        {"primary   DNS address 10.201.0.53 x", L::None, "", -1},
        {"primary   DNS address ns.example", L::None, "", -1},
        {"remote IP address 10.7.0.1", L::Projected, "", -1},
        {"Connection established to 192.0.2.9, 1701.", L::CarrierUp, "", -1},
        {"connect: Connection refused", L::NoAnswer, "", -1},
        {"Maximum retries exceeded for tunnel 4711.  Closing.", L::NoAnswer, "", -1},
        {"pppd exited for call 3771 with code 19", L::PppExited, "", 19},
        {"pppd exited for call 3771 with code 99999999999", L::None, "", -1},
        {"Modem hangup", L::None, "", -1},
        {"anon fatal[callmgr_main:pptp_callmgr.c:134]: Could not open control connection to "
         "10.201.0.2",
         L::NoAnswer, "", -1},
        {"MS-CHAP authentication failed: Access denied", L::AuthFailed, "", -1},
        {"CHAP authentication failed", L::AuthFailed, "", -1},
        {"MPPE 128-bit stateless compression enabled", L::Encrypted, "MPPE 128-bit stateless", -1},
        {"MPPE required but peer negotiation failed", L::EncryptionRefused, "", -1},
        {"LCP terminated by peer (MPPE required but peer refused)", L::EncryptionRefused, "", -1},
        {"[CFG] selected proposal: ESP:AES_CBC_256/HMAC_SHA1_96/NO_EXT_SEQ", L::IpsecProposal,
         "AES_CBC_256/HMAC_SHA1_96", -1},
        {"[CFG] selected proposal: ESP:AES;touch /x", L::None, "", -1},
        {"[CFG] selected proposal: IKE:AES_CBC_256/HMAC_SHA1_96/PRF_HMAC_SHA1/MODP_2048", L::None,
         "", -1},
        {"[IKE] CHILD_SA KVO{3} established with SPIs ccc806f7_i cf4c3476_o and TS "
         "10.200.0.2/32[udp/l2f] === 10.201.0.1/32[udp/l2f]",
         L::IpsecUp, "", -1},
        {"[IKE] received NO_PROPOSAL_CHOSEN error notify", L::IpsecRefused, "", -1},
        {"[ENC] invalid HASH_V1 payload length, decryption failed?", L::IpsecRefused, "", -1},
        {"xl2tpd[2729]: control_finish: Connection closed to 10.201.0.1, port 1701 (Server "
         "closing), Local: 1872, Remote: 14679",
         L::CarrierDown, "", -1},
        {"xl2tpd[1604]: Connection 53733 closed to 10.201.0.1, port 1701 (Server closing)",
         L::CarrierDown, "", -1},
    };
    for (const auto &c : cases) {
        const L event = PppOutput::classify(QString::fromUtf8(c.line));
        EXPECT_EQ(event.kind, c.kind) << c.line;
        EXPECT_EQ(event.value, QString::fromUtf8(c.value)) << c.line;
        EXPECT_EQ(event.status, c.status) << c.line;
    }

    // Output cut anywhere gives the same whole, trimmed lines.
    const QByteArray output = "Using interface ppp0\r\n\n  Connect: ppp0 <--> /dev/pts/3\nrest";
    for (qsizetype cut = 0; cut <= output.size(); ++cut) {
        QByteArray carry;
        QStringList lines = PppOutput::takeLines(carry, output.left(cut));
        lines += PppOutput::takeLines(carry, output.mid(cut));
        EXPECT_EQ(lines,
                  QStringList({QStringLiteral("Using interface ppp0"),
                               QStringLiteral("Connect: ppp0 <--> /dev/pts/3")}))
            << cut;
        EXPECT_EQ(carry, QByteArray("rest"));
    }
}

// charon's framing, byte for byte, and what a damaged answer gives.
TEST(Vici, MessagesAreFramedAsCharonReadsThemAndDamagedRepliesFail)
{
    Vici::Message m;
    m.value("key1", "value1")
        .section("section1")
        .section("sub-section")
        .value("key2", "value2")
        .end()
        .list("list1", {"item1", "item2"})
        .end();
    ASSERT_TRUE(m.valid());
    const QByteArray body = QByteArray("\x03\x04key1\x00\x06value1", 14) +
        QByteArray("\x01\x08section1\x01\x0bsub-section") +
        QByteArray("\x03\x04key2\x00\x06value2\x02", 15) +
        QByteArray("\x04\x05list1\x05\x00\x05item1\x05\x00\x05item2\x06\x02", 25);
    EXPECT_EQ(m.bytes(), body);
    EXPECT_EQ(Vici::requestFrame("load-conn", m),
              QByteArray("\x00\x00\x00", 3) + char(2 + 9 + body.size()) + QByteArray(1, 0) +
                  "\x09load-conn" + body);
    EXPECT_EQ(Vici::rootValues(body),
              (std::optional<QMap<QByteArray, QByteArray>>({{"key1", "value1"}})));
    EXPECT_FALSE(Vici::Message().end().valid());
    EXPECT_FALSE(Vici::Message().section("open").valid());
    EXPECT_FALSE(Vici::Message().value("k", QByteArray(70000, 'x')).valid());
    EXPECT_TRUE(
        Vici::requestFrame("x", Vici::Message().value("k", QByteArray(70000, 'x'))).isEmpty());
    for (const QByteArray &bad :
         {body.left(body.size() - 1), body.left(20), QByteArray("\x05\x00\x01x", 4),
          QByteArray("\x02"), QByteArray("\x09"), QByteArray("\x01\x00"),
          QByteArray("\x04\x01l\x03\x01k\x00\x00\x06", 9)})
        EXPECT_FALSE(Vici::rootValues(bad).has_value()) << bad.toHex().constData();

    // A peer that answers with a frame too large or a malformed message, or
    // goes mid-frame: the command fails, the next one gets a new connection.
    QTemporaryDir dir;
    QLocalServer server;
    ASSERT_TRUE(server.listen(dir.path() + QStringLiteral("/s")));
    const QList<QByteArray> answers = {
        QByteArray("\x7f\xff\xff\xff", 4), QByteArray("\x00\x00\x00\x03\x01\x09\x00", 7),
        QByteArray("\x00\x00\x00\x10\x01", 5),
        QByteArray("\x00\x00\x00\x0f\x01\x03\x07success\x00\x03yes", 19)};
    int served = 0;
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&] {
        QLocalSocket *s = server.nextPendingConnection();
        QObject::connect(s, &QLocalSocket::readyRead, s, [&, s] {
            s->readAll();
            s->write(answers.value(served++));
            if (served == 3)
                s->disconnectFromServer();
        });
    });
    ViciClient client(server.fullServerName());
    QStringList results;
    for (int i = 0; i < 4; ++i)
        client.request("version", Vici::Message(), [&](const Vici::Reply &r) {
            results.append(r.ok ? QStringLiteral("ok") : r.error);
        });
    ASSERT_TRUE(waitUntil([&] { return results.size() == 4; }));
    EXPECT_EQ(results.join(QLatin1Char('|')),
              QStringLiteral("version: charon sent a frame of 2147483647 bytes|"
                             "version: charon sent a malformed reply|"
                             "version: charon closed its control socket|ok"));
}

// At the program's exit the queued commands still reach charon, one after
// the other, without the event loop (here a charon on a thread of its own).
TEST(Vici, DrainSendsWhatIsQueuedWithoutTheEventLoop)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path() + QStringLiteral("/s"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    QList<QByteArray> received;
    std::thread charon([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const QByteArray yes("\x00\x00\x00\x0f\x01\x03\x07success\x00\x03yes", 19);
        for (;;) {
            unsigned char head[4];
            if (::recv(fd, head, 4, MSG_WAITALL) != 4)
                break;
            QByteArray packet(head[0] << 24 | head[1] << 16 | head[2] << 8 | head[3], 0);
            if (::recv(fd, packet.data(), size_t(packet.size()), MSG_WAITALL) != packet.size())
                break;
            received.append(packet.mid(2, uchar(packet[1])));
            ::send(fd, yes.constData(), size_t(yes.size()), MSG_NOSIGNAL);
        }
        ::close(fd);
    });
    bool answered = false;
    {
        ViciClient client(QString::fromLocal8Bit(path));
        client.request("terminate", Vici::Message().value("ike", "kvo-1-1"),
                       [&](const Vici::Reply &) { answered = true; });
        client.request("unload-conn", Vici::Message().value("name", "kvo-1-1"));
        client.request("unload-shared", Vici::Message().value("id", "kvo-1-1"));
        client.drain(2000);
    }
    charon.join();
    ::close(listener);
    EXPECT_EQ(received, QList<QByteArray>({"terminate", "unload-conn", "unload-shared"}));
    QCoreApplication::processEvents();
    EXPECT_FALSE(answered); // nobody is left to hear it
}
