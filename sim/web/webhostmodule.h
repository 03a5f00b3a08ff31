#pragma once

#include "simmodule.h"

#include <QHash>
#include <QJsonObject>
#include <QStringList>

class HttpServer;
struct HttpRequest;
struct HttpResponse;

// The service web host: the form requests of the client over HTTPS (and the
// QoS query and TAP file list over plain HTTP), the board pages, the account
// pages and the TAP driver files. Every request is recorded on channel "web".
class WebHostModule : public SimModule
{
    Q_OBJECT
public:
    using SimModule::SimModule;
    ~WebHostModule() override;

    QString name() const override { return QStringLiteral("web"); }
    bool start(const Scenario &scenario, Recorder &recorder, QString *error) override;

    quint16 httpsPort() const;
    quint16 httpPort() const;

    struct Account
    {
        QString id;
        QString password;
        int productType = 1;
        QStringList dynamicProducts;
        QString parentId;
        QString server;
        QString qos;
        QString availability; // a token that overrides the worked-out one
        bool loggedIn = false;
        QString loggedInExtra;
    };

private:
    HttpResponse handle(const HttpRequest &request);
    HttpResponse contents(const HttpRequest &request, const QHash<QString, QString> &form);
    QString availability(const QHash<QString, QString> &form, bool dynamic);
    QString killLoggedIn(const QByteArray &body);
    Account *account(const QString &id);

    Recorder *m_recorder = nullptr;
    HttpServer *m_https = nullptr;
    HttpServer *m_http = nullptr;
    QString m_address;
    QJsonObject m_web;
    QList<Account> m_accounts;
};
