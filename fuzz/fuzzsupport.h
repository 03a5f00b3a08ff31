#pragma once

// Shared by the fuzz targets: one QCoreApplication for the process and a
// scratch folder for the readers that take a file.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

inline QCoreApplication &fuzzApp()
{
    static int argc = 1;
    static char name[] = "kvo-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    return app ? *app : *QCoreApplication::instance();
}

inline const QTemporaryDir &fuzzDir()
{
    static QTemporaryDir dir;
    return dir;
}

// Writes the bytes to the scratch file `name` and returns its path.
inline QString fuzzFile(const char *name, const uint8_t *data, size_t size)
{
    const QString path = fuzzDir().filePath(QString::fromLatin1(name));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}
