#include "tunnel/pptpclient.h"

#include "platform/dialupppp.h"
#include "platform/processlist.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "tunneltestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kFakes = QStringLiteral(KVO_TUNNEL_FAKES_DIR);

DialUpPrograms fakePrograms()
{
    return {kFakes + QStringLiteral("/pppd"), QStringLiteral("/usr/sbin/pptp"),
            kFakes + QStringLiteral("/xl2tpd"), kFakes + QStringLiteral("/swanctl"), QString()};
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
    PppDialUp dialUp {fakePrograms(), sys.path(), nullptr, peerDnsFile};
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

// The server goes into pppd's pty command, which /bin/sh runs, and into the
// swanctl and xl2tpd files: only an IPv4 address or a host name gets there.
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

    EXPECT_EQ(rig.logged("swanctl.confmode").trimmed(), QByteArray("600"));
    EXPECT_TRUE(rig.logged("swanctl.conf").contains("secret = \"Q8MZpassage\""));
    EXPECT_TRUE(rig.logged("swanctl.conf").contains("remote_addrs = up.l2tp"));
    EXPECT_EQ(rig.logged("xl2tpd.confmode").trimmed(), QByteArray("600"));
    EXPECT_TRUE(rig.logged("xl2tpd.conf").contains("lns = up.l2tp\n"));
    EXPECT_EQ(rig.logged("xl2tpd.optmode").trimmed(), QByteArray("600"));
    EXPECT_TRUE(rig.logged("xl2tpd.options").contains("password \"s3cr\\\"et pw\""));
    EXPECT_FALSE(rig.logged("xl2tpd.options").contains("refuse-chap"));
    EXPECT_FALSE(rig.logged("xl2tpd.options").contains("mppe")); // IPsec encrypts
    EXPECT_FALSE(rig.logged("xl2tpd.args").contains("kvouser"));
    // What an L2TP/IPsec server set up for the Windows client accepts, first.
    EXPECT_TRUE(rig.logged("swanctl.conf")
                    .contains("proposals = aes256-sha1-modp2048,aes128-sha1-modp2048,"
                              "aes256-sha1-modp1024,aes128-sha1-modp1024,3des-sha1-modp1024,"
                              "default\n"));
    EXPECT_TRUE(rig.logged("swanctl.conf")
                    .contains("esp_proposals = aes256-sha1,aes128-sha1,3des-sha1,default\n"));
    EXPECT_EQ(rig.logged("swanctl.initiate"),
              QByteArray("--initiate\n--child\nKVO\n--timeout\n20\n"));
    EXPECT_EQ(rig.client.protection(), QStringLiteral("IPsec ESP AES_CBC_256/HMAC_SHA1_96"));
    rig.client.Disconnect();
    EXPECT_EQ(rig.client.refreshStatus(), unsigned(Ras::InvalidHandle));
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
