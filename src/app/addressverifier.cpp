#include "addressverifier.h"

#include "mainwindow/maincontroller.h"
#include "platform/ipv4.h"
#include "platform/tlsthread.h"

#include <QMutex>
#include <QMutexLocker>

#include <thread>

// The worker outlives nothing: it posts its answer only while the verifier
// still exists, under the lock the destructor takes.
struct AddressVerifier::Shared
{
    QMutex mutex;
    AddressVerifier *target = nullptr;
};

AddressVerifier::AddressVerifier(MainController &controller, Fetch fetch, QObject *parent)
    : QObject(parent), m_controller(controller), m_fetch(std::move(fetch)),
      m_shared(std::make_shared<Shared>())
{
    m_shared->target = this;
}

AddressVerifier::~AddressVerifier()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->target = nullptr;
}

QString AddressVerifier::stateName(State state)
{
    switch (state) {
    case State::Off:
        return QStringLiteral("off");
    case State::Pending:
        return QStringLiteral("pending");
    case State::Match:
        return QStringLiteral("match");
    case State::Mismatch:
        return QStringLiteral("mismatch");
    case State::Unreachable:
        return QStringLiteral("unreachable");
    }
    return QString();
}

void AddressVerifier::verify(const QString &address)
{
    const QString url = m_controller.fields().verifyUrl;
    ++m_generation;
    m_expected = address;
    m_seen.clear();
    if (url.isEmpty() || !m_fetch) {
        m_state = State::Off;
        return;
    }
    m_state = State::Pending;
    const quint64 generation = m_generation;
    std::thread([shared = m_shared, fetch = m_fetch, url, generation] {
        const QString reply = fetch(url);
        // libcurl over TLS ran here: its per-thread state goes with the
        // request, not at some exit nobody waits for.
        TlsThread::releaseState();
        QMutexLocker lock(&shared->mutex);
        if (AddressVerifier *target = shared->target)
            QMetaObject::invokeMethod(
                target, [target, generation, reply] { target->onAnswer(generation, reply); },
                Qt::QueuedConnection);
    }).detach();
}

void AddressVerifier::onAnswer(quint64 generation, const QString &reply)
{
    // Another change or a teardown since: the answer is about an address
    // that is no longer ours to check.
    if (generation != m_generation || m_controller.currentAddress() != m_expected) {
        Q_EMIT answerDropped();
        return;
    }
    const QString seen = reply.size() <= kMaxReply ? reply.trimmed() : QString();
    if (!isDottedIpv4(seen)) {
        m_state = State::Unreachable;
        m_controller.log(QStringLiteral("IP확인 실패: %1").arg(m_expected));
    } else if (seen == m_expected) {
        m_seen = seen;
        m_state = State::Match;
    } else {
        m_seen = seen;
        m_state = State::Mismatch;
        const QString text = QStringLiteral("IP확인 불일치: %1 / %2").arg(m_expected, seen);
        m_controller.log(text);
        m_controller.setStatusText(text);
    }
    Q_EMIT finished(m_state);
}
