#pragma once
// SIGTERM, SIGHUP and SIGINT become a close request delivered by the event
// loop: the handler only writes the signal's number to a socket that a
// notifier watches. Once `delivered` have arrived (one by default), another
// SIGTERM or SIGINT ends the program at once by that signal's default action,
// so that a close that hangs can still be cut short; a SIGHUP after the first
// signal is ignored, as a session's stop sends it right behind SIGTERM. A
// signal the process was started ignoring (nohup) stays ignored.

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace eload {

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    // One at a time; without its socket the signals keep their default action
    // and a warning says so.
    explicit TerminationSignals(QObject* parent = nullptr, int delivered = 1);
    ~TerminationSignals() override;

Q_SIGNALS:
    // Each of the first `delivered` signals, from the event loop.
    void received(int signo);

private:
    void readWaiting();
    void catchSignals();
    void restoreSignals();

    int fds_[2] = {-1, -1}; // [0] read by the notifier, [1] written by the handler
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace eload
