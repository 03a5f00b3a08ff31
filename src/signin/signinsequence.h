#pragma once

#include <QString>

#include <functional>

class Prompter;
class ServiceRequests;
class Settings;
struct SettingsFields;

// The account state the sign-in fills in; it lives in the main window. The
// server to dial is the settings field SERVER's in-memory copy
// (SettingsFields::server): a dotted address after an interactive sign-in,
// the name as sent after an automatic one.
struct AccountState
{
    QString userId; // "KVO@<typed ID>" after a good sign-in
    QString password;
    QString parentId;
    QString productName; // chosen dynamic product
    QString productCode;
};

// What the sign-in needs of the main window.
class SignInHost
{
public:
    virtual ~SignInHost() = default;
    virtual SettingsFields &fields() = 0;
    virtual Settings &settings() = 0;
    virtual AccountState &account() = 0;
    // The version check with the command line; true when the program is ending.
    virtual bool checkForUpdate() = 0;
    virtual int reportFailure(int code, const QString &reply) = 0;
    virtual void saveCredentials(const QString &id, const QString &password, int saveFlag) = 0;
    // "유동IP : %s" under the list.
    virtual void setProductLabel(const QString &name) = 0;
    // Title "모라솔 - <ID>", auto-change off for an ID with "@", redial
    // counters and flags reset, current address and status line emptied.
    virtual void prepareForTunnel(const QString &typedId) = 0;
    // Creates the driver for the tunnel type, rebuilds the IP list's columns
    // and connects; the driver's result (0 = started).
    virtual int startTunnel() = 0;
    virtual void showMainWindowCentred() = 0;
};

// The service sign-in: availability, parent ID and server requests, name
// resolution, then the tunnel. Interactive (from the sign-in dialog) and
// automatic (start at logon with saved credentials).
class SignInSequence
{
public:
    using Resolver = std::function<QString(const QString &name)>; // first IPv4 or empty

    SignInSequence(SignInHost &host, ServiceRequests &requests, Prompter &prompter,
                   Resolver resolve);

    enum class Outcome {
        Stay, // the dialog stays open
        Started, // the tunnel is starting; the dialog closes
        Ending, // the program ends (updater)
        OpenDialog // automatic sign-in: show the sign-in dialog
    };

    struct Input
    {
        QString id;
        QString password;
        bool saveChecked = false;
        QString selectedProduct; // the dynamic product chosen in the list
    };
    Outcome runInteractive(const Input &input);
    Outcome runAutomatic();

    // Replies that go to the failure report.
    static bool isFailureReply(const QString &reply);

    // The availability reply read: a refusal for the failure report, a
    // reply that mentions "OK" anywhere (enough for the interactive
    // sign-in), a reply that is exactly "OK" or "dynamicOK" (what the
    // automatic sign-in needs).
    struct Availability
    {
        bool failure = false;
        bool mentionsOk = false;
        bool plainOk = false;
    };
    static Availability readAvailability(const QString &reply);
    // The server reply read: the reply when it is an IPv4 address or a host
    // name (isServerAddress), else empty, which counts as no answer.
    static QString readServer(const QString &reply);

private:
    Outcome interactiveOnce(const Input &input, bool &again);
    QString askAvailability(const QString &id, const QString &password, const QString &code,
                            bool &sent);
    // The server reply; empty when there is none or it is no usable address.
    QString askServer(const QString &id, const QString &password, const QString &code);

    SignInHost &m_host;
    ServiceRequests &m_requests;
    Prompter &m_prompter;
    Resolver m_resolve;
};
