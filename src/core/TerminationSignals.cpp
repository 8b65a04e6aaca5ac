#include "core/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtDebug>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace eload {

namespace {

constexpr std::array kSignals{SIGTERM, SIGHUP, SIGINT};

// Shared with the handler, which may touch nothing else.
int wakeFd = -1;
volatile std::sig_atomic_t taken = 0;       // signals delivered so far
volatile std::sig_atomic_t deliverable = 1; // how many are delivered at all

std::array<struct sigaction, kSignals.size()> previous{};

void onSignal(int signo)
{
    if (taken > 0 && signo == SIGHUP) return;
    if (taken >= deliverable) {
        // Blocked while this handler runs; delivered with the default action on return.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        ::sigaction(signo, &fallback, nullptr);
        ::raise(signo);
        return;
    }
    taken = taken + 1;
    const int savedErrno = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent, int delivered) : QObject(parent)
{
    Q_ASSERT(wakeFd < 0);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0) {
        qWarning().noquote() << QStringLiteral("%1: SIGTERM, SIGHUP and SIGINT end the program at "
                                               "once, without its orderly end: socketpair: %2")
                                    .arg(QCoreApplication::applicationName(),
                                         QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readWaiting);
    wakeFd = fds_[1];
    taken = 0;
    deliverable = std::max(1, delivered);
    catchSignals();
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_) return;
    restoreSignals();
    notifier_.reset();
    wakeFd = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationSignals::catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
}

void TerminationSignals::restoreSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
}

void TerminationSignals::readWaiting()
{
    // Only the delivered signals write, a byte each.
    char byte = 0;
    while (::read(fds_[0], &byte, 1) == 1)
        Q_EMIT received(int(byte));
}

} // namespace eload
