// Replays corpus files through a fuzz target with any compiler: each
// argument is a file, or a folder whose files are all fed, one call each.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int feed(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray bytes = f.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                           size_t(bytes.size()));
    return 0;
}

int main(int argc, char **argv)
{
    int fed = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            const QFileInfoList files = QDir(arg).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo &fi : files) {
                failed += feed(fi.filePath());
                ++fed;
            }
        } else {
            failed += feed(arg);
            ++fed;
        }
    }
    std::printf("%d inputs replayed\n", fed);
    return failed == 0 && fed > 0 ? 0 : 1;
}
