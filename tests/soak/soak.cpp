// kvo-soak: long runs that watch for what piles up or tears, driven by
// scripts/soak (not a ctest test; it prints figures, it does not judge).
//
//   kvo-soak reconnects N           the session connection against a loopback
//                                   peer that closes, resets, sends a bad
//                                   frame length or stalls mid-frame, N times
//   kvo-soak listframes MINUTES     list frames of every size into the IP list
//   kvo-soak crashwriter DIR START  writes the files over and over until killed
//   kvo-soak crashcheck DIR         says which files read wrong (exit 1 if any)
#include "support/quietiplist.h"

#include "core/activitylog.h"
#include "core/ccrypto.h"
#include "core/credentialstore.h"
#include "core/settings.h"
#include "mainwindow/checkedipfile.h"
#include "mainwindow/iplistcontroller.h"
#include "mainwindow/iplistmodel.h"
#include "mainwindow/iplistrows.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "session/clientsock.h"
#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Figures of this process from /proc.
struct Figures
{
    int fds = 0;
    int threads = 0;
    long rssKb = 0;
};

Figures figures()
{
    Figures f;
    f.fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:"))
                f.threads = line.mid(8).trimmed().toInt();
            else if (line.startsWith("VmRSS:"))
                f.rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return f;
}

void print(const char *label, const Figures &f)
{
    std::printf("%-22s fds %d  threads %d  rss %ld kB\n", label, f.fds, f.threads, f.rssKb);
    std::fflush(stdout);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct SoakSessionHost : SessionHost
{
    bool tunnelUp() const override { return true; }
    LoginInfo loginInfo() const override
    {
        LoginInfo s;
        s.parentId = QStringLiteral("parent");
        s.userId = QStringLiteral("KVO@soak");
        s.tunnelAddress = QStringLiteral("10.8.0.6");
        s.pcName = QStringLiteral("SOAK");
        s.tunnelType = 2;
        s.productType = 1;
        return s;
    }
    int productType() const override { return 1; }
};

// ---------------------------------------------------------------- reconnects

int reconnects(int count)
{
    const QString address = QStringLiteral("127.0.78.1");
    QTcpServer server;
    if (!server.listen(QHostAddress(address), ClientSock::kPort)) {
        std::fprintf(stderr, "soak: cannot listen on %s:%d\n", qPrintable(address),
                     ClientSock::kPort);
        return 2;
    }
    enum Fault { PeerClose, Reset, BadLength, StallMidFrame, FaultCount };
    static const char *const names[] = {"peer close", "reset", "bad frame length", "stall"};
    int connections = 0;
    int faults[FaultCount] = {};
    const QByteArray signIn = QByteArray(12 + SessionWire::kLoginPacketSize, '\0');
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            const Fault fault = Fault(connections % FaultCount);
            ++connections;
            auto *received = new QByteArray;
            QObject::connect(s, &QObject::destroyed, [received] { delete received; });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QTcpSocket::readyRead, s, [=, &faults] {
                const bool before = received->size() >= signIn.size();
                *received += s->readAll();
                if (before || received->size() < signIn.size())
                    return;
                // Signed in: one frame of the list first, then the fault.
                s->write(encodeFrame(SM_IP_CHANGE_OK, 1, encodeAddress(QStringLiteral("4.4.4.4"))));
                ++faults[fault];
                switch (fault) {
                case PeerClose:
                    s->disconnectFromHost();
                    break;
                case Reset: {
                    s->flush();
                    const linger hard {1, 0};
                    ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                                 sizeof hard);
                    s->abort();
                    s->deleteLater();
                    break;
                }
                case BadLength: {
                    QByteArray header(12, '\0');
                    header[0] = char(0xff); // a length far beyond any frame
                    header[1] = char(0xff);
                    header[2] = char(0xff);
                    header[3] = char(0x7f);
                    header[4] = char(SM_IP_INFO);
                    s->write(header);
                    break;
                }
                case StallMidFrame:
                    // Ten bytes of a header and nothing more: the client's
                    // deadline closes the connection.
                    s->write(
                        encodeFrame(SM_IP_CHANGE_OK, 1, encodeAddress(QStringLiteral("5.5.5.5")))
                            .left(10));
                    break;
                case FaultCount:
                    break;
                }
            });
        }
    });

    const Figures start = figures();
    print("before", start);
    Figures after100 = start;
    {
        SoakSessionHost host;
        ClientSock sock(host);
        sock.open(address);
        QElapsedTimer clock;
        clock.start();
        int reported = 0;
        while (connections <= count) {
            spin(50);
            if (connections > 100 && after100.rssKb == start.rssKb && after100.fds == start.fds)
                after100 = figures();
            if (connections / 100 > reported) {
                reported = connections / 100;
                std::printf("  %d connections, %lld s\n", connections,
                            qint64(clock.elapsed() / 1000));
                print("  now", figures());
            }
        }
        sock.setReconnectFlag(false);
        sock.close();
        spin(200);
    }
    // Measured with the listening socket still open, as it was before.
    spin(200);
    const Figures end = figures();
    server.close();
    print("after 100", after100);
    print("after", end);
    std::printf("connections %d:", connections);
    for (int i = 0; i < FaultCount; ++i)
        std::printf(" %s %d;", names[i], faults[i]);
    std::printf("\nfds %+d  threads %+d  rss growth %s: %+ld kB\n", end.fds - start.fds,
                end.threads - start.threads,
                connections > 100 ? "after the first 100" : "over the run (under 100 connections)",
                end.rssKb - after100.rssKb);
    return 0;
}

// ---------------------------------------------------------------- list frames

QString address(int i)
{
    return QStringLiteral("10.%1.%2.%3").arg((i >> 16) & 255).arg((i >> 8) & 255).arg(i & 255);
}

int listFrames(double minutes)
{
    constexpr int kFixedMax = int(SessionWire::kPayloadCapacity / SessionWire::kFixedIpInfoSize);
    constexpr int kDynamicMax =
        int(SessionWire::kPayloadCapacity / SessionWire::kDynamicIpListSize);
    QTemporaryDir dir;
    QRandomGenerator random(7228);
    const Figures start = figures();
    print("before", start);
    QElapsedTimer clock;
    clock.start();
    const qint64 total = qint64(minutes * 60000.0);
    qint64 frames = 0;
    QList<long> samples;
    qint64 nextSample = 0;
    while (clock.elapsed() < total) {
        // One life of a list per product: replaced, updated, taken and
        // released over and over, each list of a random size.
        for (const int product : {1, 2}) {
            QuietIpListHost host;
            host.f.productType = product;
            MemoryIpListRows rows;
            QuietIpChannel channel;
            NoTcpReset reset;
            IpListController controller(host, rows, channel, reset,
                                        dir.filePath(QStringLiteral("DynamicIPUse")),
                                        dir.filePath(QStringLiteral("CheckedIP")));
            controller.setUpForProduct(product);
            SessionDispatcher dispatcher;
            controller.connectTo(dispatcher);
            const auto deliver = [&](const QByteArray &bytes) {
                const SessionFrame frame = decodeFrame(bytes);
                if (frameRecordsFit(frame, product))
                    dispatcher.dispatch(frame, product);
                ++frames;
            };
            for (int round = 0; round < 8 && clock.elapsed() < total; ++round) {
                const int size = 1 + int(random.bounded(product == 1 ? kFixedMax : kDynamicMax));
                if (product == 1) {
                    QList<FixedIpInfo> recs;
                    for (int i = 0; i < size; ++i) {
                        FixedIpInfo r;
                        r.address = address(i + 1 + round);
                        r.userNumber = i % 3 == 0 ? i : 0;
                        r.state = i % 5 == 0 ? 0 : 1;
                        r.days = i % 40;
                        recs.append(r);
                    }
                    deliver(encodeFrame(round % 2 ? SM_IP_INFO_UPDATE : SM_IP_INFO,
                                        uint32_t(recs.size()), SessionEncode::fixedList(recs)));
                } else {
                    QList<DynamicIpList> recs;
                    for (int i = 0; i < size; ++i) {
                        DynamicIpList r;
                        r.lead.fill(char(i));
                        r.address = address(i + 1 + round);
                        recs.append(r);
                    }
                    deliver(encodeFrame(round % 2 ? SM_DYNAMIC_IP_INFO : SM_IP_INFO,
                                        uint32_t(recs.size()), SessionEncode::dynamicList(recs)));
                }
                for (int i = 0; i < 50; ++i) {
                    IpPcNotice n;
                    n.address = address(1 + int(random.bounded(size)));
                    n.pcName = QStringLiteral("OTHER-PC");
                    deliver(encodeFrame(SM_IP_TAKEN, 1, n.encode()));
                    deliver(encodeFrame(SM_IP_RELEASED, 1, encodeAddress(n.address)));
                }
            }
        }
        if (clock.elapsed() >= nextSample) {
            samples.append(figures().rssKb);
            std::printf("  %3lld s  frames %lld  rss %ld kB\n", qint64(clock.elapsed() / 1000),
                        frames, samples.last());
            std::fflush(stdout);
            nextSample += std::max<qint64>(total / 10, 1000);
        }
    }
    const Figures end = figures();
    print("after", end);
    // Levelled off: the second half's peak is no higher than the first's.
    long firstPeak = 0, secondPeak = 0;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        long &peak = i < samples.size() / 2 ? firstPeak : secondPeak;
        peak = std::max(peak, samples[i]);
    }
    std::printf("frames %lld  rss peak first half %ld kB, second half %ld kB (%+ld kB)\n", frames,
                firstPeak, secondPeak, secondPeak - firstPeak);
    return 0;
}

// ---------------------------------------------------------------- crash safety

// What round n writes. Every file's content names its round, so the check can
// tell a whole old or new content from a torn one.
QStringList checkedFor(int n)
{
    // "10.<count>.<round>.<i>": every address says how long its list is, so
    // a list cut at a record boundary still reads wrong.
    const int count = n % 40 + 1;
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QStringLiteral("10.%1.%2.%3").arg(count).arg(n % 250).arg(i + 1));
    return list;
}

QString passwordFor(int n)
{
    return QStringLiteral("pw-%1-").arg(n) + QString(n % 30, QLatin1Char('x'));
}

int crashWriter(const QString &folder, int first)
{
    ScriptedPrompter prompter;
    Settings settings(folder + QStringLiteral("/KVOClientSetup.ini"));
    settings.createIfMissing();
    CCrypto crypto(prompter);
    crypto.DeriveKey(QStringLiteral("soak-key"));
    CredentialStore store(settings, crypto, prompter, folder + QStringLiteral("/Encrypt.dat"));
    FixedClock clock(QDateTime(QDate(2026, 3, 14), QTime(21, 30)));
    ActivityLog log(folder, QStringLiteral("KVOClient"), clock, prompter);
    // Set up: from here on every moment is one of writing. The driver waits
    // for this mark before it picks its moment to kill.
    QFile ready(folder + QStringLiteral("/.ready"));
    ready.open(QIODevice::WriteOnly);
    ready.close();
    for (int n = first;; ++n) {
        settings.write(SettingKeys::Entry, SettingKeys::DynamicProductName,
                       QStringLiteral("round %1").arg(n));
        CheckedIpFile::save(folder + QStringLiteral("/CheckedIP"), checkedFor(n));
        UsageHistoryFile::recordUse(
            folder + QStringLiteral("/DynamicIPUse"),
            QStringLiteral("10.7.%1.%2").arg((n / 250) % 250).arg(n % 250 + 1), quint64(n));
        store.save(QStringLiteral("soak"), passwordFor(n), 1);
        log.write(QStringLiteral("round %1").arg(n));
    }
}

int crashCheck(const QString &folder)
{
    QStringList wrong;
    ScriptedPrompter prompter;
    Settings settings(folder + QStringLiteral("/KVOClientSetup.ini"));
    static const QRegularExpression roundText(QStringLiteral("^round (\\d+)$"));
    const QString product =
        settings.readString(SettingKeys::Entry, SettingKeys::DynamicProductName);
    // The creation values must all still be there beside the round.
    if (!roundText.match(product).hasMatch() ||
        settings.readString(SettingKeys::Entry, SettingKeys::ID) != QLatin1String("soak"))
        wrong.append(QStringLiteral("KVOClientSetup.ini"));

    QStringList checked;
    CheckedIpFile::load(folder + QStringLiteral("/CheckedIP"), checked);
    // A whole content of some round: "10.<k>.<b>.1" up to "10.<k>.<b>.<k>".
    bool checkedOk = !checked.isEmpty();
    const QString round = checked.value(0).section(QLatin1Char('.'), 2, 2);
    for (qsizetype i = 0; checkedOk && i < checked.size(); ++i)
        checkedOk =
            checked[i] == QStringLiteral("10.%1.%2.%3").arg(checked.size()).arg(round).arg(i + 1);
    if (!checkedOk)
        wrong.append(QStringLiteral("CheckedIP"));

    for (const UsageHistoryFile::Record &r :
         UsageHistoryFile::read(folder + QStringLiteral("/DynamicIPUse"))) {
        const int n = int(r.time);
        if (r.address != QStringLiteral("10.7.%1.%2").arg((n / 250) % 250).arg(n % 250 + 1)) {
            wrong.append(QStringLiteral("DynamicIPUse"));
            break;
        }
    }

    CCrypto crypto(prompter);
    crypto.DeriveKey(QStringLiteral("soak-key"));
    QFile encrypted(folder + QStringLiteral("/Encrypt.dat"));
    QString password;
    static const QRegularExpression passwordText(QStringLiteral("^pw-(\\d+)-x*$"));
    if (!encrypted.open(QIODevice::ReadOnly) || !crypto.Decrypt(encrypted.readAll(), password) ||
        !passwordText.match(password).hasMatch() ||
        password != passwordFor(passwordText.match(password).captured(1).toInt()))
        wrong.append(QStringLiteral("Encrypt.dat"));

    // The log: every line but the last whole and in order.
    QFile logFile(folder + QStringLiteral("/log/KVOClient20260314.txt"));
    if (logFile.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = logFile.readAll().split('\n');
        static const QRegularExpression logLine(
            QStringLiteral("^\\[2026-03-14 21:30:00\\]\\tround (\\d+)\\r$"));
        int previous = -1;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const auto m = logLine.match(QString::fromUtf8(lines[i]));
            const int n = m.hasMatch() ? m.captured(1).toInt() : -1;
            if (n <= previous) {
                wrong.append(QStringLiteral("log line %1").arg(i + 1));
                break;
            }
            previous = n;
        }
    }
    for (const QString &w : wrong)
        std::printf("reads wrong: %s\n", qPrintable(w));
    return wrong.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString what = args.value(0);
    if (what == QLatin1String("reconnects"))
        return reconnects(args.value(1, QStringLiteral("1000")).toInt());
    if (what == QLatin1String("listframes"))
        return listFrames(args.value(1, QStringLiteral("10")).toDouble());
    if (what == QLatin1String("crashwriter") && args.size() == 3)
        return crashWriter(args[1], args[2].toInt());
    if (what == QLatin1String("crashcheck") && args.size() == 2)
        return crashCheck(args[1]);
    std::fprintf(stderr,
                 "usage: kvo-soak reconnects N | listframes MINUTES | crashwriter DIR "
                 "START | crashcheck DIR\n");
    return 2;
}
