#include "cli/OutputStream.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace eload::cli {

// Shared by the stream and its writer, so that a writer left blocked at the
// end still has it.
struct OutputStream::State {
    int fd;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> queue;
    qsizetype queuedBytes = 0;
    bool writing = false;
    bool closing = false;
    bool gone = false;         // nothing more is written
    bool readerClosed = false; // because the reader closed its end
    qint64 dropped = 0;
    qint64 written = 0; // items written so far
    std::thread writer;

    void run();
    int writeAll(const QByteArray& bytes); // 0, or the error that ended the writing
};

namespace {

// Whether the write failed for good: the reader has gone, or the descriptor
// is no output at all.
bool finalFailure(int error) { return error != EINTR && error != EAGAIN; }

} // namespace

int OutputStream::State::writeAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && finalFailure(errno)) return errno;
        if (n < 0 && errno == EAGAIN) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

void OutputStream::State::run()
{
    // Signals are for the event thread, whose notifier turns them into an orderly end.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return closing || !queue.empty(); });
        if (queue.empty()) return;
        const QByteArray bytes = std::move(queue.front());
        queue.pop_front();
        queuedBytes -= bytes.size();
        writing = true;
        lock.unlock();
        const int error = writeAll(bytes);
        lock.lock();
        writing = false;
        ++written;
        if (error != 0) {
            gone = true;
            readerClosed = error == EPIPE;
            queue.clear();
            queuedBytes = 0;
        }
        changed.notify_all();
    }
}

OutputStream::OutputStream(int fd) : state_(std::make_shared<State>())
{
    state_->fd = fd;
    state_->writer = std::thread([s = state_] { s->run(); });
}

OutputStream::~OutputStream()
{
    std::unique_lock lock(state_->mutex);
    state_->closing = true;
    const bool idle = state_->queue.empty() && !state_->writing;
    state_->changed.notify_all();
    lock.unlock();
    if (idle)
        state_->writer.join();
    else
        state_->writer.detach();
}

void OutputStream::enqueue(const QByteArray& bytes, bool droppable)
{
    std::lock_guard lock(state_->mutex);
    if (state_->gone) return;
    if (droppable && state_->queuedBytes + bytes.size() > kQueueBytes) {
        ++state_->dropped;
        return;
    }
    state_->queue.push_back(bytes);
    state_->queuedBytes += bytes.size();
    state_->changed.notify_all();
}

void OutputStream::show(const QByteArray& bytes) { enqueue(bytes, true); }

void OutputStream::keep(const QByteArray& bytes) { enqueue(bytes, false); }

bool OutputStream::drain(std::chrono::milliseconds within)
{
    std::unique_lock lock(state_->mutex);
    const auto empty = [this] {
        return state_->gone || (state_->queue.empty() && !state_->writing);
    };
    for (;;) {
        const qint64 before = state_->written;
        if (state_->changed.wait_for(lock, within, empty)) return true;
        if (state_->written == before) return false;
    }
}

qint64 OutputStream::dropped() const
{
    std::lock_guard lock(state_->mutex);
    return state_->dropped;
}

bool OutputStream::readerGone() const
{
    std::lock_guard lock(state_->mutex);
    return state_->readerClosed;
}

} // namespace eload::cli
