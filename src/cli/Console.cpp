#include "cli/Console.h"

#include <cerrno>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace eload::cli {

namespace {
bool lost = false;
}

void printOut(const QByteArray& bytes)
{
    if (lost) return;
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    lost = std::fflush(stdout) != 0 && errno == EPIPE;
}

bool stdoutLost() { return lost; }

void printOut(const QString& text) { printOut(text.toUtf8()); }

void printError(const QString& message)
{
    std::fputs(QStringLiteral("eload-cli: %1\n").arg(message).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void printProgress(const QString& text, bool last)
{
    std::fputs(QStringLiteral("\r\x1b[2K%1%2")
                   .arg(text, last ? QStringLiteral("\n") : QString())
                   .toUtf8()
                   .constData(),
               stderr);
    std::fflush(stderr);
}

int terminalColumns()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

} // namespace eload::cli
