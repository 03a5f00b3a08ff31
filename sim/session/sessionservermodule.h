#pragma once

#include "simmodule.h"

#include "session/sessioncodec.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;
class Recorder;

// The session management server: TCP port 10010 on every server address the
// web API hands out (the accounts' "server"). Accounts carry fixed and
// dynamic address pools, the reported-address list, memos and an expiry
// time; scripted events let other PCs take, release and share addresses and
// produce every session-ending message and the faults (see SCENARIO.md).
class SessionServerModule : public SimModule
{
    Q_OBJECT
public:
    SessionServerModule();
    ~SessionServerModule() override;

    QString name() const override { return QStringLiteral("session"); }
    bool start(const Scenario &scenario, Recorder &recorder, QString *error) override;

    struct PoolAddress
    {
        QString address;
        int32_t userNumber = 0;
        int32_t state = 1;
        int32_t days = 30;
        QString pc;
    };
    struct Account
    {
        QString id;
        QString server;
        QList<PoolAddress> fixed;
        QList<DynamicIpList> dynamic;
        QStringList reported;
        QMap<int32_t, QString> memos;
        bool memoEveryAddress = false;
        qint64 expire = -1;
        bool refuseLogin = false;
        bool noUsableAddress = false;
        QStringList refuseChange;
        QJsonArray events;
    };

    // The state of an account as it stands now (for tests).
    const Account *account(const QString &id) const;

private:
    struct Connection;
    void accept(QTcpServer *server);
    void onReadable(Connection *c);
    void handle(Connection *c, const SessionFrame &frame);
    void handleLogin(Connection *c, const SessionFrame &frame);
    // Answers a change request; true when the change was made.
    bool handleChange(Connection *c, const QString &address);
    void send(Connection *c, int type, uint32_t param, const QByteArray &payload = {});
    void sendList(Connection *c, int type);
    void runEvents(Connection *c, const QString &trigger);
    void runEvent(Connection *c, const QJsonObject &event);
    void closeConnection(Connection *c);
    void notifyOthers(Connection *c, int type, const QByteArray &payload);
    void record(const Connection *c, const QString &event, QJsonObject fields = {});

    Recorder *m_recorder = nullptr;
    quint16 m_port = 10010;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    QHash<QString, Account> m_accounts;
    QList<Connection *> m_connections;
};
