#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class MainController;

// The check after a confirmed change ([Option] VerifyUrl): the page is asked,
// on a worker thread, for the address our request came from, and its answer
// is compared with the new current address. A mismatch is written to the
// activity log and the status line as "IP확인 불일치: <expected> / <seen>";
// a page that does not answer, or answers with anything but a dotted IPv4
// address, gives "IP확인 실패: <expected>" in the log and nothing else. With
// an empty VerifyUrl nothing is asked. Only the last change's answer counts:
// an answer that arrives after another change or a log-out is dropped.
class AddressVerifier : public QObject
{
    Q_OBJECT
public:
    // Asks the whole address for its page and returns the reply, empty on
    // any failure; runs on the worker thread.
    using Fetch = std::function<QString(const QString &url)>;

    enum class State { Off, Pending, Match, Mismatch, Unreachable };

    AddressVerifier(MainController &controller, Fetch fetch, QObject *parent = nullptr);
    ~AddressVerifier() override;

    // A change to `address` is confirmed.
    void verify(const QString &address);

    State state() const { return m_state; }
    static QString stateName(State state);
    const QString &expected() const { return m_expected; }
    const QString &seen() const { return m_seen; } // a dotted IPv4 address or empty

    // The longest page answer looked at.
    static constexpr int kMaxReply = 64;

Q_SIGNALS:
    // An answer has been taken into account.
    void finished(AddressVerifier::State state);
    // An answer came for an address that is no longer the one to check.
    void answerDropped();

private:
    struct Shared;
    void onAnswer(quint64 generation, const QString &reply);

    MainController &m_controller;
    Fetch m_fetch;
    std::shared_ptr<Shared> m_shared;
    quint64 m_generation = 0;
    State m_state = State::Off;
    QString m_expected;
    QString m_seen;
};
