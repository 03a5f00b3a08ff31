#include "tlsthread.h"

#include <QThread>

#include <openssl/crypto.h>

void TlsThread::releaseState()
{
    OPENSSL_thread_stop();
}

void TlsThread::releaseStateWhenFinished(QThread &thread)
{
    // finished() is emitted in the finishing thread before wait() returns;
    // a direct connection runs the slot right there.
    QObject::connect(&thread, &QThread::finished, &thread, &TlsThread::releaseState,
                     Qt::DirectConnection);
}
