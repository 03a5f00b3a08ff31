#pragma once

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

// Stands in for charon's control socket: reads each command as the vici
// protocol frames it (decoded here on its own, element by element), keeps
// what is loaded, and answers success = yes unless told to refuse the
// command. A loaded connection's first server is written to
// `<serverLog>/ipsec-server`, where the stand-in swanctl finds it.
class ViciStandIn
{
public:
    struct Request
    {
        QByteArray command;
        // "section.key" -> value; lists as "[a,b]".
        QMap<QByteArray, QByteArray> fields;
    };

    explicit ViciStandIn(QString serverLog = QString()) : m_serverLog(std::move(serverLog))
    {
        m_server.listen(path());
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] {
            while (QLocalSocket *s = m_server.nextPendingConnection()) {
                auto *buffer = new QByteArray;
                QObject::connect(s, &QLocalSocket::readyRead, s, [this, s, buffer] {
                    *buffer += s->readAll();
                    while (buffer->size() >= 4) {
                        const auto *p = reinterpret_cast<const uchar *>(buffer->constData());
                        const int size = p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
                        if (buffer->size() < 4 + size)
                            return;
                        const QByteArray packet = buffer->mid(4, size);
                        buffer->remove(0, 4 + size);
                        const QByteArray reply = answer(packet);
                        if (!silent)
                            s->write(reply);
                    }
                });
                QObject::connect(s, &QLocalSocket::disconnected, s, [s, buffer] {
                    delete buffer;
                    s->deleteLater();
                });
            }
        });
    }

    QString path() const { return m_dir.path() + QStringLiteral("/charon.vici"); }

    QList<Request> requests;
    QSet<QByteArray> conns; // loaded connections
    QSet<QByteArray> secrets; // loaded shared keys, by id
    QSet<QByteArray> refuse; // commands answered success = no
    bool silent = false; // never answers

    QList<QByteArray> commands() const
    {
        QList<QByteArray> out;
        for (const Request &r : requests)
            out.append(r.command);
        return out;
    }

private:
    static QByteArray frame(const QByteArray &packet)
    {
        const auto n = quint32(packet.size());
        QByteArray out;
        out += char(n >> 24);
        out += char(n >> 16);
        out += char(n >> 8);
        out += char(n);
        return out + packet;
    }

    static QByteArray keyValue(const QByteArray &key, const QByteArray &value)
    {
        return QByteArray(1, 3) + char(key.size()) + key + char(value.size() >> 8) +
            char(value.size()) + value;
    }

    // The elements of a request, flattened; false when malformed.
    static bool decode(const QByteArray &m, QMap<QByteArray, QByteArray> *fields)
    {
        QList<QByteArray> path;
        QByteArray list;
        QList<QByteArray> items;
        int i = 0;
        auto name = [&](QByteArray *out) {
            if (i >= m.size())
                return false;
            const int len = uchar(m[i]);
            if (i + 1 + len > m.size())
                return false;
            *out = m.mid(i + 1, len);
            i += 1 + len;
            return true;
        };
        auto blob = [&](QByteArray *out) {
            if (i + 2 > m.size())
                return false;
            const int len = uchar(m[i]) << 8 | uchar(m[i + 1]);
            if (i + 2 + len > m.size())
                return false;
            *out = m.mid(i + 2, len);
            i += 2 + len;
            return true;
        };
        auto key = [&](const QByteArray &k) {
            return path.isEmpty() ? k : path.join('.') + '.' + k;
        };
        while (i < m.size()) {
            const int type = m[i++];
            QByteArray n, v;
            switch (type) {
            case 1:
                if (!name(&n))
                    return false;
                path.append(n);
                break;
            case 2:
                if (path.isEmpty())
                    return false;
                path.removeLast();
                break;
            case 3:
                if (!name(&n) || !blob(&v))
                    return false;
                fields->insert(key(n), v);
                break;
            case 4:
                if (!name(&list))
                    return false;
                items.clear();
                break;
            case 5:
                if (!blob(&v))
                    return false;
                items.append(v);
                break;
            case 6:
                fields->insert(key(list), '[' + items.join(',') + ']');
                break;
            default:
                return false;
            }
        }
        return path.isEmpty();
    }

    QByteArray answer(const QByteArray &packet)
    {
        if (packet.size() < 2 || packet[0] != 0)
            return frame(QByteArray(1, 2));
        const int nameLength = uchar(packet[1]);
        Request r {packet.mid(2, nameLength), {}};
        if (!decode(packet.mid(2 + nameLength), &r.fields))
            return frame(QByteArray(1, 2));
        requests.append(r);
        const bool ok = !refuse.contains(r.command);
        if (ok && r.command == "load-conn" && !r.fields.isEmpty()) {
            const QByteArray conn = r.fields.firstKey().split('.').first();
            conns.insert(conn);
            QByteArray server = r.fields.value(conn + ".remote_addrs");
            server = server.mid(1, server.size() - 2).split(',').first();
            if (!m_serverLog.isEmpty()) {
                QFile f(m_serverLog + QStringLiteral("/ipsec-server"));
                if (f.open(QIODevice::WriteOnly))
                    f.write(server);
            }
        } else if (ok && r.command == "load-shared") {
            secrets.insert(r.fields.value("id"));
        } else if (r.command == "unload-conn") {
            conns.remove(r.fields.value("name"));
        } else if (r.command == "unload-shared") {
            secrets.remove(r.fields.value("id"));
        }
        return frame(QByteArray(1, 1) + keyValue("success", ok ? "yes" : "no") +
                     (ok ? QByteArray() : keyValue("errmsg", "refused by the stand-in")));
    }

    QString m_serverLog;
    QTemporaryDir m_dir;
    QLocalServer m_server;
};
