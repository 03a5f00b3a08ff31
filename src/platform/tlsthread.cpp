#include "tlsthread.h"

#include <QThread>
#include <QThreadStorage>

#include <openssl/crypto.h>

namespace {
// Lives in the thread's storage, which Qt clears after finished() has been
// emitted and after the objects deleted with deleteLater() are gone (a TLS
// socket freed there touches the library again), and before QThread::wait()
// returns.
struct StateReleaser
{
    ~StateReleaser() { TlsThread::releaseState(); }
};

QThreadStorage<StateReleaser *> &releasers()
{
    static QThreadStorage<StateReleaser *> storage;
    return storage;
}
} // namespace

void TlsThread::releaseState()
{
    OPENSSL_thread_stop();
}

void TlsThread::releaseStateWhenFinished(QThread &thread)
{
    // started() is emitted in the new thread itself.
    QObject::connect(
        &thread, &QThread::started, &thread,
        [] {
            if (!releasers().hasLocalData())
                releasers().setLocalData(new StateReleaser);
        },
        Qt::DirectConnection);
}
