#pragma once
// eload-cli's command line: what to do, on which line, with which modules.
// Everything that can be checked without the line is checked here, so that a
// bad argument sends nothing.

#include "serial/PortMap.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace eload::cli {

enum class Command { Read, Watch, Set, On, Off, Clear, Address, Scan, Report, Help, Version };

enum class Format { People, Json, Csv };

// Registers 13..16 as given to `set`; what is not given keeps the module's value.
struct PresetChange {
    std::optional<std::uint16_t> current; // 0.01 A
    std::optional<std::uint16_t> cutoff;  // 0.01 V
    std::optional<std::uint16_t> power;   // 0.01 W
    std::optional<std::uint16_t> baudCode;
    bool empty() const { return !current && !cutoff && !power && !baudCode; }
};

// The unattended end of a `watch`; the module's own ends always count.
struct StopRules {
    std::optional<double> belowVolts; // while the load is on
    std::optional<double> atAh;
    std::optional<double> atWh;
    std::optional<std::chrono::milliseconds> after; // from the first poll
};

// How long a watch rides through a silent line (the port reopened by its
// path meanwhile) before a module's test ends as line-lost.
inline constexpr std::chrono::minutes kDefaultLostAfter{5};

struct Invocation {
    Command command = Command::Help;
    QString port; // a device path (COMn already resolved)
    int baud = 9600;
    std::vector<std::uint8_t> addresses{1};
    bool addressesGiven = false; // --address was given (scan: else every address)
    Format format = Format::People;
    QString csvFile; // `--csv FILE`; empty: CSV (if chosen) goes to stdout
    QString xlsxFile;
    std::chrono::milliseconds interval{500};
    std::chrono::milliseconds lostAfter{kDefaultLostAfter};
    bool loadOn = false;
    StopRules stop;
    PresetChange presets;
    std::uint8_t newAddress = 0;
    bool yes = false;
    QStringList files; // `report`
    // watch: the test library the tests are recorded into.
    QString db;        // --db; empty: ELOAD_DB, else the default file
    bool noDb = false; // --no-db: nothing recorded
    QStringList cells; // --cell, once per module or one pattern with {n}
    QString cellType;
    std::optional<double> ratedAh;
};

struct UsageError {
    QString message;
};

// `args` without the program's name.
std::variant<Invocation, UsageError> parseArguments(const QStringList& args, const PortMap& ports);

// The addresses a Modbus RTU master reaches: 248 to 255 are reserved, and
// libmodbus will not address them.
inline constexpr int kLastAddress = 247;

// "1,2,3", "1-4" or both ("1,3-5"): bus addresses 1..kLastAddress, each once, in order.
std::variant<std::vector<std::uint8_t>, UsageError> parseAddressList(const QString& text);

// "500", "500ms", "1.5s", "5m", "2h", "3d": a bare number counts `bareUnit`s.
std::optional<std::chrono::milliseconds> parseDuration(const QString& text,
                                                       std::chrono::milliseconds bareUnit);

QString helpText();

// The cell each module of a watch tests, in the order of the addresses:
// --cell given once per module, or once as a pattern whose {n} counts the
// modules from 1; without --cell the port's name and the address
// ("ttyUSB0-3"). An error when the count does not fit.
std::variant<QStringList, UsageError> cellNamesFor(const Invocation& inv);

} // namespace eload::cli
