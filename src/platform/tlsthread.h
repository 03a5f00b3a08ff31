#pragma once

class QThread;

// The TLS library (OpenSSL, under libcurl and Qt's TLS backend) keeps state
// per thread: the error queue of every failed look-up (unavailable ciphers,
// missing files) and its buffers. It frees a thread's state when the thread
// exits, which may be after QThread::wait() has returned and so after the
// process has ended. A worker thread that uses TLS frees it itself, as the
// last thing it does.
namespace TlsThread {

// Frees the calling thread's TLS library state.
void releaseState();

// Makes `thread` free its TLS library state as the last thing it does, in
// the thread itself, after its deferred deletions and before anyone waiting
// for it is woken. Call before the thread starts.
void releaseStateWhenFinished(QThread &thread);

} // namespace TlsThread
