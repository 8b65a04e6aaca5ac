#pragma once
// stdout or stderr of a long run, written by a thread of its own: a reader
// that stalls (a pipe nobody reads, a pager left waiting, a hung ssh session)
// then holds up that thread only, never the line or the stop rules. Lines for
// display are dropped, and counted, while a bounded queue is full; messages
// and summaries are always queued.
//
// The descriptor's own mode is left alone: making a shared terminal or pipe
// non-blocking would change it for every process that shares it.

#include <QByteArray>
#include <chrono>
#include <memory>

namespace eload::cli {

class OutputStream {
public:
    static constexpr qsizetype kQueueBytes = 64 * 1024;

    explicit OutputStream(int fd);
    // A writer still blocked in the system is left to the end of the process.
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // A line for display: dropped when the queue holds kQueueBytes already.
    void show(const QByteArray& bytes);
    // A message or a summary: kept whatever the queue holds.
    void keep(const QByteArray& bytes);
    // Waits until everything queued has been written, or until nothing was
    // written for `within` (a reader that is slow, not stalled, is waited for).
    bool drain(std::chrono::milliseconds within);

    qint64 dropped() const;  // lines not shown
    bool readerGone() const; // the reader closed its end (EPIPE); nothing more is written

private:
    struct State;
    void enqueue(const QByteArray& bytes, bool droppable);
    std::shared_ptr<State> state_;
};

} // namespace eload::cli
