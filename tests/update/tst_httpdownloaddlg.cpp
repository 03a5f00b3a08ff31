#include "platform/filedownload.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "update/httpdownloaddlg.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// A small HTTP server: each path answers with its body, with or without a
// length, or 404.
class FileServer : public QObject
{
public:
    struct File
    {
        QByteArray body;
        bool sendLength = true;
    };
    QMap<QString, File> files;
    QMap<QString, QByteArray> redirects; // path -> Location
    QStringList asked; // every path asked for

    FileServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] { answer(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

private:
    void answer(QTcpSocket *s)
    {
        const QByteArray request = s->readAll();
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        asked.append(path);
        if (redirects.contains(path)) {
            s->write("HTTP/1.0 302 Found\r\nLocation: " + redirects[path] +
                     "\r\nContent-Length: 0\r\n\r\n");
        } else if (!files.contains(path)) {
            s->write("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        } else {
            const File &f = files[path];
            s->write("HTTP/1.0 200 OK\r\n");
            if (f.sendLength)
                s->write("Content-Length: " + QByteArray::number(f.body.size()) + "\r\n");
            s->write("\r\n");
            s->write(f.body);
        }
        s->disconnectFromHost();
    }
    QTcpServer m_server;
};

DownloadJob::Downloader realDownload()
{
    return [](const QString &url, const QString &path,
              const std::function<bool(qint64, qint64)> &progress) {
        return downloadToFile(url, path, progress);
    };
}

} // namespace

class TstHttpDownloadDlg : public QObject
{
    Q_OBJECT

private:
    static void closeAfterBox(HttpDownloadDlg &dlg, ScriptedPrompter &prompter)
    {
        auto *poll = new QTimer(&dlg);
        connect(poll, &QTimer::timeout, &dlg, [&dlg, &prompter, poll] {
            if (!prompter.boxes().isEmpty()) {
                poll->stop();
                dlg.reject();
            }
        });
        poll->start(20);
    }

private Q_SLOTS:
    void twoFilesArriveAndAreRenamed()
    {
        TestHome home;
        FileServer server;
        server.files[QStringLiteral("/d/a.sys")] = {QByteArray(5000, 'a')};
        server.files[QStringLiteral("/d/b.inf")] = {QByteArray("[inf]")};
        ScriptedPrompter prompter;
        QString askedUrl, askedBody;
        const QString list = server.url(QStringLiteral("/d/a.sys")) + QLatin1Char(',') +
            server.url(QStringLiteral("/d/b.inf"));
        HttpDownloadDlg dlg(
            prompter,
            [&](const QString &u, const QString &b) {
                askedUrl = u;
                askedBody = b;
                return list;
            },
            realDownload());
        dlg.listUrl = QStringLiteral("http://list.example/tap");
        dlg.listBody = QStringLiteral("os=linux");
        QStringList shown;
        connect(&dlg, &HttpDownloadDlg::statusShown, this,
                [&](const QString &t) { shown.append(t); });
        dlg.exec();
        QCOMPARE(dlg.result(), 1);
        QCOMPARE(askedUrl, QStringLiteral("http://list.example/tap"));
        QCOMPARE(askedBody, QStringLiteral("os=linux"));
        QCOMPARE(home.read(QStringLiteral("a.sys")), QByteArray(5000, 'a'));
        QCOMPARE(home.read(QStringLiteral("b.inf")), QByteArray("[inf]"));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("a.sys.tmp"))));
        QCOMPARE(shown.first(), QStringLiteral("전체 : 0 / 2 완료"));
        QCOMPARE(shown.last(), QStringLiteral("전체 : 2 / 2 완료"));
        QVERIFY(shown.contains(QStringLiteral("다운로드 : 4.88 KB / 4.88 KB")));
        QCOMPARE(dlg.overallBar()->value(), 100);
        QVERIFY(prompter.boxes().isEmpty());
    }

    void trailingCommaCountsAnEmptyEntry()
    {
        TestHome home;
        FileServer server;
        server.files[QStringLiteral("/a.sys")] = {QByteArray("A")};
        server.files[QStringLiteral("/b.inf")] = {QByteArray("B")};
        ScriptedPrompter prompter;
        const QString list = server.url(QStringLiteral("/a.sys")) + QLatin1Char(',') +
            server.url(QStringLiteral("/b.inf")) + QLatin1Char(',');
        HttpDownloadDlg dlg(
            prompter, [&](const QString &, const QString &) { return list; }, realDownload());
        QStringList shown;
        connect(&dlg, &HttpDownloadDlg::statusShown, this,
                [&](const QString &t) { shown.append(t); });
        dlg.exec();
        QCOMPARE(dlg.result(), 1);
        QCOMPARE(shown.first(), QStringLiteral("전체 : 0 / 3 완료"));
        QCOMPARE(shown.last(), QStringLiteral("전체 : 2 / 3 완료"));
        QCOMPARE(dlg.overallBar()->value(), 66);
        QCOMPARE(home.read(QStringLiteral("b.inf")), QByteArray("B"));
    }

    void failureOnTheSecondOfThreeReplacesNothing()
    {
        TestHome home;
        home.write(QStringLiteral("a.sys"), "older");
        FileServer server;
        server.files[QStringLiteral("/a.sys")] = {QByteArray("newer")};
        server.files[QStringLiteral("/c.cat")] = {QByteArray("C")};
        ScriptedPrompter prompter;
        const QString list = server.url(QStringLiteral("/a.sys")) + QLatin1Char(',') +
            server.url(QStringLiteral("/b.inf")) + QLatin1Char(',') +
            server.url(QStringLiteral("/c.cat"));
        HttpDownloadDlg dlg(
            prompter, [&](const QString &, const QString &) { return list; }, realDownload());
        closeAfterBox(dlg, prompter);
        dlg.exec();
        QCOMPARE(dlg.result(), -1);
        QCOMPARE(prompter.texts(),
                 QStringList {QStringLiteral(
                     "파일을 다운받는 중 오류로 인하여 업데이트에 실패하였습니다.")});
        QCOMPARE(prompter.boxes()[0].flags, 0u);
        QCOMPARE(home.read(QStringLiteral("a.sys")), QByteArray("older"));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("a.sys.tmp"))));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("b.inf.tmp"))));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("c.cat"))));

        // The same dialog runs again and succeeds once the file is there.
        server.files[QStringLiteral("/b.inf")] = {QByteArray("B")};
        prompter.clear();
        dlg.exec();
        QCOMPARE(dlg.result(), 1);
        QCOMPARE(home.read(QStringLiteral("a.sys")), QByteArray("newer"));
        QCOMPARE(home.read(QStringLiteral("c.cat")), QByteArray("C"));
        QVERIFY(prompter.boxes().isEmpty());
    }

    void serverWithoutLengthShowsUnknownTotal()
    {
        TestHome home;
        FileServer server;
        server.files[QStringLiteral("/big.sys")] = {QByteArray(3000, 'x'), false};
        ScriptedPrompter prompter;
        HttpDownloadDlg dlg(
            prompter,
            [&](const QString &, const QString &) {
                return server.url(QStringLiteral("/big.sys"));
            },
            realDownload());
        QStringList shown;
        connect(&dlg, &HttpDownloadDlg::statusShown, this,
                [&](const QString &t) { shown.append(t); });
        dlg.exec();
        QCOMPARE(dlg.result(), 1);
        // Progress arrives in steps; every step reads "(total size unknown)".
        const QStringList steps = shown.filter(QStringLiteral("다운로드 : "));
        QVERIFY(!steps.isEmpty());
        for (const QString &s : steps)
            QVERIFY2(s.endsWith(QStringLiteral(" (total size unknown)")), qPrintable(s));
        QCOMPARE(dlg.fileBar()->value(), 0);
        QCOMPARE(home.read(QStringLiteral("big.sys")).size(), 3000);
    }

    void emptyListClosesWithFailure()
    {
        TestHome home;
        ScriptedPrompter prompter;
        HttpDownloadDlg dlg(
            prompter, [](const QString &, const QString &) { return QString(); }, realDownload());
        dlg.exec();
        QCOMPARE(dlg.result(), -1);
        QVERIFY(prompter.boxes().isEmpty());
    }

    // The list comes over plain HTTP: it may name only the driver's own
    // files, over http or https. One entry that is anything else refuses the
    // whole list before a byte is fetched or written.
    void listNamingAnythingButDriverFilesIsRefused()
    {
        const struct
        {
            const char *name;
            QString entry; // %1: the server's base address
        } cases[] = {
            {"tunnel configuration", QStringLiteral("%1/d/client.ovpn")},
            {"deployment", QStringLiteral("%1/d/KVOService.ini")},
            {"settings", QStringLiteral("%1/d/KVOClientSetup.ini")},
            {"saved password", QStringLiteral("%1/d/Encrypt.dat")},
            {"updater", QStringLiteral("%1/d/KVOUpdate")},
            {"local file", QStringLiteral("file:///etc/hostname.sys")},
            {"other protocol", QStringLiteral("ftp://127.0.0.1/tap0901.sys")},
            {"no host", QStringLiteral("http:///tap0901.sys")},
            {"parent folder", QStringLiteral("%1/x/..")},
            {"hidden name", QStringLiteral("%1/d/.sys")},
            {"query", QStringLiteral("%1/get.php?f=tap0901.sys")},
            {"backslash", QStringLiteral("%1/d/..\\client.sys")},
        };
        for (const auto &c : cases) {
            TestHome home;
            home.write(QStringLiteral("client.ovpn"), "mine");
            FileServer server;
            server.files[QStringLiteral("/d/tap0901.sys")] = {QByteArray("driver")};
            ScriptedPrompter prompter;
            bool downloaded = false;
            // A good entry first: it is not fetched either.
            const QString list = server.url(QStringLiteral("/d/tap0901.sys")) + QLatin1Char(',') +
                c.entry.arg(server.url(QString()));
            HttpDownloadDlg dlg(
                prompter, [&](const QString &, const QString &) { return list; },
                [&](const QString &, const QString &, const std::function<bool(qint64, qint64)> &) {
                    downloaded = true;
                    return true;
                });
            closeAfterBox(dlg, prompter);
            dlg.exec();
            QVERIFY2(dlg.result() == -1, c.name);
            QVERIFY2(!downloaded, c.name);
            QCOMPARE(prompter.texts(),
                     QStringList {QString::fromUtf8(HttpDownloadDlg::kRefusedText)});
            QCOMPARE(prompter.boxes()[0].flags, 0u);
            QCOMPARE(home.read(QStringLiteral("client.ovpn")), QByteArray("mine"));
            QVERIFY2(!QFile::exists(home.file(QStringLiteral("tap0901.sys"))), c.name);
            QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden),
                     (QStringList {QStringLiteral("client.ovpn")}));
        }
    }

    void driverFileNamesAreAccepted()
    {
        for (const char *name : {"tap0901.sys", "OemVista.inf", "OemWin2k.INF", "tap0901.cat",
                                 "devcon.exe", "devcon64.exe", "a-b_c.1.sys"}) {
            const QString n = QString::fromLatin1(name);
            QCOMPARE(DownloadJob::driverFileNameOf(QStringLiteral("http://h/files/x64/") + n), n);
            QCOMPARE(DownloadJob::driverFileNameOf(QStringLiteral("HTTPS://h:8443/") + n), n);
        }
        for (const char *name : {"setup.exe", "tap0901.sys.sh", "tap0901", "KVOClient"})
            QVERIFY2(DownloadJob::driverFileNameOf(QStringLiteral("http://h/") +
                                                   QString::fromLatin1(name))
                         .isEmpty(),
                     name);
    }

    // The download itself stays on the web: a redirect to a local file or
    // another protocol fails and the run replaces nothing.
    void redirectAwayFromTheWebFails()
    {
        TestHome home;
        home.write(QStringLiteral("tap0901.sys"), "older");
        FileServer server;
        server.redirects[QStringLiteral("/d/tap0901.sys")] = "file:///etc/hostname";
        ScriptedPrompter prompter;
        HttpDownloadDlg dlg(
            prompter,
            [&](const QString &, const QString &) {
                return server.url(QStringLiteral("/d/tap0901.sys"));
            },
            realDownload());
        closeAfterBox(dlg, prompter);
        dlg.exec();
        QCOMPARE(dlg.result(), -1);
        QCOMPARE(prompter.texts(),
                 QStringList {QStringLiteral(
                     "파일을 다운받는 중 오류로 인하여 업데이트에 실패하였습니다.")});
        QCOMPARE(home.read(QStringLiteral("tap0901.sys")), QByteArray("older"));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("tap0901.sys.tmp"))));

        // A redirect on the web is followed.
        server.files[QStringLiteral("/e/tap0901.sys")] = {QByteArray("newer")};
        server.redirects[QStringLiteral("/d/tap0901.sys")] =
            server.url(QStringLiteral("/e/tap0901.sys")).toLatin1();
        prompter.clear();
        dlg.exec();
        QCOMPARE(dlg.result(), 1);
        QCOMPARE(home.read(QStringLiteral("tap0901.sys")), QByteArray("newer"));
    }

    void downloadToFileRefusesOtherProtocolsWithoutTouchingTheFile()
    {
        TestHome home;
        for (const char *url : {"file:///etc/hostname", "ftp://127.0.0.1/x", "tap0901.sys"}) {
            QString error;
            QVERIFY(!downloadToFile(QString::fromLatin1(url), home.file(QStringLiteral("out")), {},
                                    &error));
            QVERIFY(!error.isEmpty());
            QVERIFY2(!QFile::exists(home.file(QStringLiteral("out"))), url);
        }
    }
};

QTEST_MAIN(TstHttpDownloadDlg)
#include "tst_httpdownloaddlg.moc"
