// eload-sim: the simulated load module, or several on one line, as a program.
// Prints the pty path on one line, serves until SIGINT or SIGTERM, then
// removes its link.

#include "sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

#ifndef ELOAD_VERSION
#define ELOAD_VERSION "0.0.0"
#endif

namespace {

using eload::sim::Options;

constexpr const char* kUsage =
    "usage: eload-sim [--link PATH] [--address LIST | --modules N] [--baud N]\n"
    "                 [--speed F] [--broadcast-silent] [--cells N] [--capacity AH]\n"
    "                 [--soc F[,F...]]\n"
    "       eload-sim --help | --version\n"
    "  --link PATH         also make PATH a symlink to the pty\n"
    "  --address LIST      bus address 1..255 (1); several: one module each,\n"
    "                      as 1,2,3 or 1-4 or 1,5-7\n"
    "  --modules N         N modules at addresses 1..N\n"
    "  --baud N            line speed the module expects (9600)\n"
    "  --speed F           run the battery model F times faster (1)\n"
    "  --broadcast-silent  do not echo the broadcast address change\n"
    "  --cells N           lithium cells in series (3)\n"
    "  --capacity AH       capacity of the pack (2.2)\n"
    "  --soc F[,F...]      charge at start, 0..1, for every module or one each (1)\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n";

constexpr int kMaxModules = 255;

// The options with the modules still to be laid out.
struct CommandLine {
    Options options;
    std::vector<std::uint8_t> addresses{1};
    bool addressesGiven = false;
    std::vector<double> charges;
};

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

std::optional<std::vector<double>> chargeList(const std::string& text)
{
    std::vector<double> charges;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const auto charge = realNumber(text.substr(from, comma - from).c_str());
        if (!charge || !(*charge >= 0 && *charge <= 1)) return std::nullopt;
        charges.push_back(*charge);
        from = comma + 1;
    }
    return charges;
}

// --address and --modules; false when not understood or both are given.
bool applyModules(CommandLine& c, const std::string& name, const char* value)
{
    if (std::exchange(c.addressesGiven, true)) {
        std::fputs("eload-sim: give the modules once, by --address or by --modules\n", stderr);
        return false;
    }
    if (name == "--address") {
        auto list = eload::sim::parseAddressList(value);
        if (const auto* error = std::get_if<eload::sim::SimError>(&list)) {
            std::fprintf(stderr, "eload-sim: --address %s: %s\n", value, error->message.c_str());
            return false;
        }
        c.addresses = std::get<std::vector<std::uint8_t>>(std::move(list));
        return true;
    }
    const auto count = wholeNumber(value);
    if (!count || *count < 1 || *count > kMaxModules) return false;
    c.addresses.clear();
    for (int a = 1; a <= *count; ++a)
        c.addresses.push_back(std::uint8_t(a));
    return true;
}

// Applies one option with its value; false when either is not understood.
bool applyOption(CommandLine& c, const std::string& name, const char* value)
{
    Options& o = c.options;
    if (name == "--address" || name == "--modules") return applyModules(c, name, value);
    if (name == "--soc") {
        auto charges = chargeList(value);
        if (charges) c.charges = std::move(*charges);
        return charges.has_value();
    }
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
    if (name == "--baud") {
        o.baud = *number;
    } else if (name == "--cells") {
        o.model.cells = *number;
    } else {
        return false;
    }
    return true;
}

// One module: the single module's options; several: one setup each, with
// its own charge when one is given per module.
std::optional<Options> layOutModules(CommandLine c)
{
    Options& o = c.options;
    const std::size_t count = c.addresses.size();
    if (c.charges.size() > 1 && c.charges.size() != count) {
        std::fprintf(stderr, "eload-sim: --soc gives %zu charges for %zu modules\n",
                     c.charges.size(), count);
        return std::nullopt;
    }
    if (c.charges.size() == 1) o.model.stateOfCharge = c.charges[0];
    if (count == 1) {
        o.address = c.addresses[0];
        return o;
    }
    for (std::size_t i = 0; i < count; ++i) {
        o.modules.push_back({c.addresses[i], o.model});
        if (c.charges.size() == count) o.modules.back().model.stateOfCharge = c.charges[i];
    }
    return o;
}

std::optional<Options> parseArguments(int argc, char** argv)
{
    CommandLine c;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--broadcast-silent") {
            c.options.broadcastSilent = true;
            continue;
        }
        if (i + 1 >= argc || !applyOption(c, arg, argv[i + 1])) {
            std::fprintf(stderr, "eload-sim: bad argument %s\n", arg.c_str());
            return std::nullopt;
        }
        ++i;
    }
    return layOutModules(std::move(c));
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("eload-sim " ELOAD_VERSION "\n", stdout);
            return 0;
        }
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
