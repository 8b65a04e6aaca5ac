// eload-sim: the simulated load module as a program. Prints the pty path on
// one line, serves until SIGINT or SIGTERM, then removes its link.

#include "sim/Simulator.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pthread.h>
#include <string>

namespace {

using eload::sim::Options;

constexpr const char* kUsage =
    "usage: eload-sim [--link PATH] [--address N] [--baud N] [--speed F]\n"
    "                 [--broadcast-silent] [--cells N] [--capacity AH]\n"
    "  --link PATH         also make PATH a symlink to the pty\n"
    "  --address N         bus address, 1..255 (1)\n"
    "  --baud N            line speed the module expects (9600)\n"
    "  --speed F           run the battery model F times faster (1)\n"
    "  --broadcast-silent  do not echo the broadcast address change\n"
    "  --cells N           lithium cells in series (3)\n"
    "  --capacity AH       capacity of the pack (2.2)\n";

std::optional<int> wholeNumber(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') return std::nullopt;
    if (value < INT_MIN || value > INT_MAX) return std::nullopt;
    return int(value);
}

std::optional<double> realNumber(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0') return std::nullopt;
    return value;
}

// Applies one option with its value; false when either is not understood.
bool applyOption(Options& o, const std::string& name, const char* value)
{
    if (name == "--link") {
        o.linkPath = value;
        return !o.linkPath.empty();
    }
    if (name == "--speed" || name == "--capacity") {
        const auto number = realNumber(value);
        if (!number) return false;
        (name == "--speed" ? o.speed : o.model.capacityAh) = *number;
        return true;
    }
    const auto number = wholeNumber(value);
    if (!number) return false;
    if (name == "--address") {
        if (*number < 1 || *number > 255) return false;
        o.address = std::uint8_t(*number);
    } else if (name == "--baud") {
        o.baud = *number;
    } else if (name == "--cells") {
        o.model.cells = *number;
    } else {
        return false;
    }
    return true;
}

std::optional<Options> parseArguments(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--broadcast-silent") {
            o.broadcastSilent = true;
            continue;
        }
        if (i + 1 >= argc || !applyOption(o, arg, argv[i + 1])) {
            std::fprintf(stderr, "eload-sim: bad argument %s\n", arg.c_str());
            return std::nullopt;
        }
        ++i;
    }
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    const auto options = parseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Blocked before the module's thread starts, so it inherits the mask and
    // the signals wait here for sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    eload::sim::Simulator simulator(*options);
    const auto started = simulator.start();
    if (const auto* error = std::get_if<eload::sim::SimError>(&started)) {
        std::fprintf(stderr, "eload-sim: %s\n", error->message.c_str());
        return 1;
    }
    std::printf("%s\n", std::get<std::string>(started).c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    simulator.stop();
    return 0;
}
