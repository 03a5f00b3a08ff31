// A worker that used the TLS library leaves none of the library's memory
// behind once QThread::wait() has returned, even when the library is used
// again by objects deleted as the thread finishes. Every allocation the
// library makes is recorded with the thread that made it; this program has
// its own main() because the recording must be in place before the library
// allocates anything.
#include "platform/tlsthread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdlib>
#include <mutex>
#include <semaphore>
#include <thread>
#include <unordered_map>

namespace {
std::mutex g_mutex;
std::unordered_map<void *, std::thread::id> g_live;

void *recordedMalloc(size_t n, const char *, int)
{
    void *p = std::malloc(n);
    if (p) {
        std::lock_guard lock(g_mutex);
        g_live[p] = std::this_thread::get_id();
    }
    return p;
}

void recordedFree(void *p, const char *, int)
{
    if (p) {
        std::lock_guard lock(g_mutex);
        g_live.erase(p);
    }
    std::free(p);
}

void *recordedRealloc(void *p, size_t n, const char *file, int line)
{
    if (!p)
        return recordedMalloc(n, file, line);
    std::lock_guard lock(g_mutex);
    const auto known = g_live.find(p);
    const auto owner = known != g_live.end() ? known->second : std::this_thread::get_id();
    void *q = std::realloc(p, n);
    if (q) {
        g_live.erase(p);
        g_live[q] = owner;
    }
    return q;
}

int liveFrom(std::thread::id thread)
{
    std::lock_guard lock(g_mutex);
    int n = 0;
    for (const auto &[p, owner] : g_live)
        n += owner == thread;
    return n;
}

// Leaves an entry in the calling thread's error queue, as a failed look-up
// in the library does.
void failInTheLibrary()
{
    ERR_raise(ERR_LIB_SYS, 2);
}

// The library would also free a thread's state from a thread-exit hook,
// which runs after QThread::wait() has returned, at a moment nobody waits
// for (a process may have ended by then). Thread-local destructors run
// before those hooks: this one keeps the worker from reaching them until
// the test has counted.
std::binary_semaphore g_counted {0};
struct HoldExit
{
    bool armed = false;
    ~HoldExit()
    {
        if (armed)
            g_counted.acquire();
    }
};
thread_local HoldExit t_holdExit;

class UsesTheLibraryWhenDeleted : public QObject
{
public:
    ~UsesTheLibraryWhenDeleted() override { failInTheLibrary(); }
};
} // namespace

TEST(TlsThread, AFinishedWorkerLeavesNoLibraryMemory)
{
    // Use in the thread's run, and again from an object deleted with
    // deleteLater() as the thread finishes (after finished() is emitted).
    for (bool deletedAtFinish : {false, true}) {
        QThread thread;
        TlsThread::releaseStateWhenFinished(thread);
        std::thread::id id;
        auto *late = new UsesTheLibraryWhenDeleted;
        late->moveToThread(&thread);
        QObject::connect(
            &thread, &QThread::started, &thread,
            [&] {
                id = std::this_thread::get_id();
                t_holdExit.armed = true;
                failInTheLibrary();
                if (!deletedAtFinish) {
                    delete late;
                    late = nullptr;
                }
                QThread::currentThread()->quit();
            },
            Qt::DirectConnection);
        if (deletedAtFinish)
            QObject::connect(&thread, &QThread::finished, late, &QObject::deleteLater);
        thread.start();
        ASSERT_TRUE(thread.wait(10000));
        const int live = liveFrom(id);
        g_counted.release();
        EXPECT_EQ(live, 0) << "deleted at finish: " << deletedAtFinish;
    }
}

int main(int argc, char **argv)
{
    if (!CRYPTO_set_mem_functions(recordedMalloc, recordedRealloc, recordedFree))
        return 1;
    // The library's one-time set-up is shared by all threads: done here, it
    // is not counted against the worker.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    failInTheLibrary();
    ERR_clear_error();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
