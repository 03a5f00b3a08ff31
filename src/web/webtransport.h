#pragma once

#include "platform/deploymentconfig.h"

#include <QByteArray>
#include <QList>
#include <QString>

class Prompter;

// How the reply bytes become text. PostServiceForm decodes the body as a
// whole (UTF-8); PostFormToUrl and PostPlainForm read it line by line and
// join the lines without their breaks ("\n", "\r\n"), each line decoded on
// its own. Undecodable bytes become U+FFFD; nothing is refused here.
namespace ReplyText {
QString whole(const QByteArray &bytes);
QString joinedLines(const QByteArray &bytes);
} // namespace ReplyText

// The three ways the client posts a form to the service web host. Every
// failure is the empty text; callers never see a status or an error number.
//
// PostServiceForm: HTTPS POST of `body` (UTF-8) to `path` on the deployment's
// web host (port 443 unless WebHost carries one), HTTP/1.0, the proxy from the
// environment. The server's certificate and name are verified against the
// system's CAs plus the deployment's CaFile. Redirects between HTTP and HTTPS
// are followed (at most 5, web addresses only, every host verified the same
// way); 301, 302 and 303 go on as GET, 307 and 308 repost the form.
// A transport failure (also too many redirects) is shown as
// "InternetOpen|InternetConnect|HttpOpenRequest|HttpSendRequest [%d]- %s"
// (no caption of its own, OK only) and its message is written to stdout.
QString PostServiceForm(const QString &path, const QString &body, const DeploymentConfig &config,
                        Prompter &prompter);

// POST of `body` (UTF-8) to a whole address, direct (no proxy), giving up when
// no data arrives for 5000 ms. Redirects are followed as by PostServiceForm. The reply's lines are
// joined without separator; a failure gives what was read until then. Shows nothing. Safe on any
// thread.
QString PostFormToUrl(const QString &url, const QString &body,
                      const DeploymentConfig &config = DeploymentConfig());

// As PostFormToUrl, but through the environment's proxy, with the body in the
// code page 949, without the 5000 ms limit and without following redirects.
QString PostPlainForm(const QString &url, const QString &body,
                      const DeploymentConfig &config = DeploymentConfig());

// The transports as one replaceable object, so that the code that sends
// requests can run against another transport in tests.
class WebTransport
{
public:
    virtual ~WebTransport() = default;
    virtual QString postServiceForm(const QString &path, const QString &body) = 0;
    virtual QString postFormToUrl(const QString &url, const QString &body) = 0;
    virtual QString postPlainForm(const QString &url, const QString &body) = 0;
};

// The real transports for one deployment; boxes go to `prompter`.
class CurlWebTransport : public WebTransport
{
public:
    CurlWebTransport(DeploymentConfig config, Prompter &prompter);
    QString postServiceForm(const QString &path, const QString &body) override;
    QString postFormToUrl(const QString &url, const QString &body) override;
    QString postPlainForm(const QString &url, const QString &body) override;

private:
    DeploymentConfig m_config;
    Prompter &m_prompter;
};

// Records every request and answers from a table (for the tests of the code
// that sends requests). An unlisted request gets the empty text, the
// transports' failure value.
class ScriptedWebTransport : public WebTransport
{
public:
    enum class Kind { ServiceForm, FormToUrl, PlainForm };
    struct Call
    {
        Kind kind;
        QString target; // path or whole address
        QString body;
    };

    // Answer for a target whose body matches `body` exactly, or any body when
    // `body` is null. Later entries win.
    void reply(const QString &target, const QString &answer, const QString &body = QString());

    QString postServiceForm(const QString &path, const QString &body) override;
    QString postFormToUrl(const QString &url, const QString &body) override;
    QString postPlainForm(const QString &url, const QString &body) override;

    QList<Call> calls;

private:
    QString answer(Kind kind, const QString &target, const QString &body);
    struct Entry
    {
        QString target, body, answer;
    };
    QList<Entry> m_entries;
};
