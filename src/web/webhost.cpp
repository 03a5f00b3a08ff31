#include "webhost.h"

WebHost WebHost::fromConfig(const DeploymentConfig &config)
{
    WebHost h;
    h.name = config.webHostName();
    h.httpsPort = config.webHostPort(443);
    h.httpPort = config.webHttpPort;
    return h;
}

QString WebHost::httpsAuthority() const
{
    return httpsPort == 443 ? name : name + QLatin1Char(':') + QString::number(httpsPort);
}

QString WebHost::httpAuthority() const
{
    return httpPort == 80 ? name : name + QLatin1Char(':') + QString::number(httpPort);
}

QString WebHost::https(const QString &pathAndQuery) const
{
    return QStringLiteral("https://") + httpsAuthority() + pathAndQuery;
}

QString WebHost::http(const QString &pathAndQuery) const
{
    return QStringLiteral("http://") + httpAuthority() + pathAndQuery;
}

namespace ServiceUrls {

QString fixedBuy(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_buy.php"));
}

QString dynamicBuy(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_dynamic_buy.php"));
}

QString fixedExtendAfterExpiry(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_buy.php?sn=4"));
}

QString dynamicExtendAfterExpiry(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_dynamic_buy.php?sn=4"));
}

QString inquiry(const WebHost &host)
{
    return host.https(QStringLiteral("/bbs/qawrite.php"));
}

QString signUp(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_register.php?sn=1"));
}

QString connectionFaq(const WebHost &host)
{
    return host.https(QStringLiteral("/bbs/board.php?bo_table=faq&sn=5"));
}

QString lostPassword(const WebHost &host)
{
    return host.https(QStringLiteral("/service/vezi/vezi_password_lost.php"));
}

QString faqForError(const WebHost &host, int errorCode)
{
    return host.https(QStringLiteral("/service/vezi/view_faq.php?error_code=%1").arg(errorCode));
}

QString purchasePage(const WebHost &host, int productType)
{
    switch (productType) {
    case 1:
        return fixedBuy(host);
    case 2:
        return dynamicBuy(host);
    default:
        return {};
    }
}

QString signedInPost(const WebHost &host)
{
    return host.https(QLatin1String(kContentsPath));
}

QString noticesBoard(const WebHost &host)
{
    return host.http(QStringLiteral("/latestBoard.php?board_id=notice&cs=y"));
}

QString faqBoard(const WebHost &host)
{
    return host.https(QStringLiteral("/latestBoard.php?board_id=faq&cs=y"));
}

QString qosUrl(const WebHost &host)
{
    return host.http(QStringLiteral("/service/vezi/get_qos.php"));
}

QString tapFileListUrl(const WebHost &host)
{
    return host.http(QLatin1String(kContentsPath));
}

QString probe(const WebHost &host)
{
    return QStringLiteral("http://") + host.httpAuthority();
}

} // namespace ServiceUrls
