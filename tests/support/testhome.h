#pragma once

#include "platform/programfolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A program folder of its own for one test: KVO_HOME points at a fresh
// temporary folder, removed afterwards; the program's name is "KVOClient".
class TestHome
{
public:
    TestHome()
    {
        m_old = qgetenv("KVO_HOME");
        qputenv("KVO_HOME", m_dir.path().toUtf8());
        setApplicationNameOverride(QStringLiteral("KVOClient"));
    }
    ~TestHome()
    {
        if (m_old.isEmpty())
            qunsetenv("KVO_HOME");
        else
            qputenv("KVO_HOME", m_old);
    }
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

    QByteArray read(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(file(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
};
