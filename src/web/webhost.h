#pragma once

#include "platform/deploymentconfig.h"

#include <QString>

// The service web host as the addresses of the program use it: its name and
// the two ports (HTTPS for the forms and account pages, plain HTTP for the
// QoS query, the TAP file list and the notice board).
struct WebHost
{
    QString name;
    int httpsPort = 443;
    int httpPort = 80;

    // Name, HTTPS port from WebHost's ":port", HTTP port from WebHttpPort.
    static WebHost fromConfig(const DeploymentConfig &config);

    // "name" or "name:port" when the port is not the scheme's own.
    QString httpsAuthority() const;
    QString httpAuthority() const;
    QString https(const QString &pathAndQuery) const; // "https://%s" + path
    QString http(const QString &pathAndQuery) const; // "http://%s" + path
};

// Every address of the service web site, built in one place.
namespace ServiceUrls {
// Pages of the browser.
QString fixedBuy(const WebHost &host); // /service/vezi/vezi_buy.php
QString dynamicBuy(const WebHost &host); // /service/vezi/vezi_dynamic_buy.php
QString fixedExtendAfterExpiry(const WebHost &host); // vezi_buy.php?sn=4
QString dynamicExtendAfterExpiry(const WebHost &host); // vezi_dynamic_buy.php?sn=4
QString inquiry(const WebHost &host); // /bbs/qawrite.php
QString signUp(const WebHost &host); // /service/vezi/vezi_register.php?sn=1
QString connectionFaq(const WebHost &host); // /bbs/board.php?bo_table=faq&sn=5
QString lostPassword(const WebHost &host); // /service/vezi/vezi_password_lost.php
QString faqForError(const WebHost &host, int errorCode); // view_faq.php?error_code=%d
// Button 1013's page for a product type: 1 fixed, 2 dynamic, else empty.
QString purchasePage(const WebHost &host, int productType);

// The signed-in window's POST target.
QString signedInPost(const WebHost &host); // https://%s/service/vezi/vezi_cs_contents.php

// Board pages of the sign-in dialog's panels.
QString noticesBoard(const WebHost &host); // http://%s/latestBoard.php?board_id=notice&cs=y
QString faqBoard(const WebHost &host); // https://%s/latestBoard.php?board_id=faq&cs=y

// Addresses of the form requests.
constexpr const char *kContentsPath = "/service/vezi/vezi_cs_contents.php";
constexpr const char *kKillLoggedInPath = "/service/vezi/kill_loggedin.php";
QString qosUrl(const WebHost &host); // http://%s/service/vezi/get_qos.php
QString tapFileListUrl(const WebHost &host); // http://%s/service/vezi/vezi_cs_contents.php

// The connectivity probe of the sign-in and the line check: "http://%s".
QString probe(const WebHost &host);
} // namespace ServiceUrls
