#include "cli/Arguments.h"

#include "modbus/Formats.h"
#include "modbus/Frames.h"
#include "modbus/Registers.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <array>
#include <cmath>

namespace eload::cli {

namespace {

using Mask = unsigned;
constexpr Mask bit(Command c) { return 1u << unsigned(c); }
constexpr Mask kBus = bit(Command::Read) | bit(Command::Watch) | bit(Command::Set) |
                      bit(Command::On) | bit(Command::Off) | bit(Command::Clear) |
                      bit(Command::Address) | bit(Command::Scan);
constexpr Mask kWatch = bit(Command::Watch);
constexpr Mask kSet = bit(Command::Set);

using Result = std::optional<QString>; // an error message
using Handler = Result (*)(Invocation&, const QString& value);

struct OptionRule {
    const char* name;
    bool takesValue;
    Mask commands;
    Handler apply;
};

const std::array<std::pair<const char*, Command>, 11> kCommands{{
    {"read", Command::Read},
    {"watch", Command::Watch},
    {"set", Command::Set},
    {"on", Command::On},
    {"off", Command::Off},
    {"clear", Command::Clear},
    {"address", Command::Address},
    {"scan", Command::Scan},
    {"report", Command::Report},
    {"help", Command::Help},
    {"version", Command::Version},
}};

std::optional<Command> commandNamed(const QString& name)
{
    for (const auto& [text, command] : kCommands)
        if (name == QLatin1String(text)) return command;
    return std::nullopt;
}

QString commandName(Command command)
{
    for (const auto& [text, c] : kCommands)
        if (c == command) return QLatin1String(text);
    return {};
}

std::optional<std::uint16_t> baudCodeOf(const QString& text)
{
    for (std::uint16_t code = 0; const std::optional<int> rate = modbus::baudOfCode(code); ++code)
        if (text == QString::number(*rate)) return code;
    return std::nullopt;
}

QString baudList()
{
    QStringList rates;
    for (std::uint16_t code = 0; const std::optional<int> rate = modbus::baudOfCode(code); ++code)
        rates << QString::number(*rate);
    return rates.join(QStringLiteral(", "));
}

Result applyPort(Invocation& inv, const QString& value)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (value.isEmpty()) return QStringLiteral("a device path or COM1 to COM9");
    const QRegularExpressionMatch m = com.match(value);
    if (!m.hasMatch()) {
        inv.port = value;
        return std::nullopt;
    }
    inv.port = PortMap::fromEnvironment().pathOf(m.captured(1).toInt());
    if (inv.port.isEmpty()) return QStringLiteral("COM numbers are 1 to 9");
    return std::nullopt;
}

Result applyBaud(Invocation& inv, const QString& value)
{
    const std::optional<std::uint16_t> code = baudCodeOf(value);
    if (!code) return QStringLiteral("one of %1").arg(baudList());
    inv.baud = *modbus::baudOfCode(*code);
    return std::nullopt;
}

Result applyAddresses(Invocation& inv, const QString& value)
{
    auto list = parseAddressList(value);
    if (auto* e = std::get_if<UsageError>(&list)) return e->message;
    inv.addresses = std::get<std::vector<std::uint8_t>>(std::move(list));
    inv.addressesGiven = true;
    return std::nullopt;
}

Result applyInterval(Invocation& inv, const QString& value)
{
    const auto d = parseDuration(value, std::chrono::milliseconds(1));
    if (!d || d->count() <= 0) return QStringLiteral("a duration such as 500, 250ms or 2s");
    inv.interval = *d;
    return std::nullopt;
}

Result applyStopAfter(Invocation& inv, const QString& value)
{
    const auto d = parseDuration(value, std::chrono::seconds(1));
    if (!d || d->count() <= 0) return QStringLiteral("a duration such as 90, 90s, 30m or 2h");
    inv.stop.after = *d;
    return std::nullopt;
}

Result applyLostAfter(Invocation& inv, const QString& value)
{
    const auto d = parseDuration(value, std::chrono::seconds(1));
    if (!d) return QStringLiteral("a duration such as 90, 90s, 10m or 1h (0: end at once)");
    inv.lostAfter = *d;
    return std::nullopt;
}

std::optional<double> positiveNumber(const QString& text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0) return std::nullopt;
    return v;
}

template <std::optional<double> StopRules::*field>
Result applyStopValue(Invocation& inv, const QString& value)
{
    inv.stop.*field = positiveNumber(value);
    if (!(inv.stop.*field)) return QStringLiteral("not a positive number");
    return std::nullopt;
}

// A preset in the module's range, counted in hundredths as the frame carries
// it; typed digits beyond the hundredths round halves to even, as the panel's.
template <std::optional<std::uint16_t> PresetChange::*field, const modbus::RegisterRange& bounds,
          char unit>
Result applyPreset(Invocation& inv, const QString& value)
{
    const std::optional<double> h = modbus::hundredthsOf(value);
    const QString range =
        QStringLiteral("%1 to %2 %3")
            .arg(modbus::shortestText(bounds.min), modbus::shortestText(bounds.max))
            .arg(QLatin1Char(unit));
    if (!h) return QStringLiteral("not a number; the module takes %1").arg(range);
    if (*h < bounds.min || *h > bounds.max)
        return QStringLiteral("outside the module's range %1; nothing sent").arg(range);
    inv.presets.*field = modbus::roundHalfEven(*h);
    return std::nullopt;
}

Result applyModuleBaud(Invocation& inv, const QString& value)
{
    inv.presets.baudCode = baudCodeOf(value);
    if (!inv.presets.baudCode) return QStringLiteral("one of %1").arg(baudList());
    return std::nullopt;
}

Result applyCsv(Invocation& inv, const QString& value)
{
    if (value.isEmpty()) inv.format = Format::Csv;
    inv.csvFile = value;
    return std::nullopt;
}

Result applyRatedAh(Invocation& inv, const QString& value)
{
    inv.ratedAh = positiveNumber(value);
    if (!inv.ratedAh) return QStringLiteral("a capacity in A·h above 0, e.g. 2.5");
    return std::nullopt;
}

Result applyCell(Invocation& inv, const QString& value)
{
    if (value.trimmed().isEmpty()) return QStringLiteral("a cell's name, e.g. S01 or 'B{n}'");
    inv.cells << value;
    return std::nullopt;
}

const std::array<OptionRule, 27> kOptions{{
    {"--port", true, kBus, applyPort},
    {"--baud", true, kBus, applyBaud},
    {"--address", true, kBus, applyAddresses},
    {"--json", false, bit(Command::Read) | kWatch | bit(Command::Report) | bit(Command::Scan),
     [](Invocation& inv, const QString&) -> Result {
         inv.format = Format::Json;
         return std::nullopt;
     }},
    {"--csv", true, bit(Command::Read) | kWatch, applyCsv},
    {"--xlsx", true, kWatch,
     [](Invocation& inv, const QString& v) -> Result {
         inv.xlsxFile = v;
         return std::nullopt;
     }},
    {"--interval", true, kWatch, applyInterval},
    {"--load-on", false, kWatch,
     [](Invocation& inv, const QString&) -> Result {
         inv.loadOn = true;
         return std::nullopt;
     }},
    {"--stop-below", true, kWatch, applyStopValue<&StopRules::belowVolts>},
    {"--stop-at-ah", true, kWatch, applyStopValue<&StopRules::atAh>},
    {"--stop-at-wh", true, kWatch, applyStopValue<&StopRules::atWh>},
    {"--stop-after", true, kWatch, applyStopAfter},
    {"--lost-after", true, kWatch, applyLostAfter},
    {"--db", true, kWatch,
     [](Invocation& inv, const QString& v) -> Result {
         if (v.isEmpty()) return QStringLiteral("a SQLite file or a postgresql:// URL");
         inv.db = v;
         return std::nullopt;
     }},
    {"--no-db", false, kWatch,
     [](Invocation& inv, const QString&) -> Result {
         inv.noDb = true;
         return std::nullopt;
     }},
    {"--cell", true, kWatch, applyCell},
    {"--type", true, kWatch,
     [](Invocation& inv, const QString& v) -> Result {
         inv.cellType = v;
         return std::nullopt;
     }},
    {"--rated-ah", true, kWatch, applyRatedAh},
    {"--current", true, kSet,
     applyPreset<&PresetChange::current, modbus::kCurrentPresetRange, 'A'>},
    {"--cutoff", true, kSet, applyPreset<&PresetChange::cutoff, modbus::kCutoffPresetRange, 'V'>},
    {"--power", true, kSet, applyPreset<&PresetChange::power, modbus::kPowerPresetRange, 'W'>},
    {"--module-baud", true, kSet, applyModuleBaud},
    {"--yes", false, bit(Command::Address),
     [](Invocation& inv, const QString&) -> Result {
         inv.yes = true;
         return std::nullopt;
     }},
    {"--help", false, ~0u, nullptr},
    {"-h", false, ~0u, nullptr},
    {"--version", false, ~0u, nullptr},
    {"--", false, ~0u, nullptr},
}};

const OptionRule* optionNamed(const QString& name)
{
    for (const OptionRule& o : kOptions)
        if (name == QLatin1String(o.name)) return &o;
    return nullptr;
}

struct Given {
    const OptionRule* option;
    QString value;
};

// Options and positional words, before the command is known to check them.
struct Words {
    std::optional<Command> command;
    std::vector<Given> options;
    QStringList positional;
};

// `--csv` takes a FILE only when one follows: a word that is no option and,
// before the command, no command.
bool csvFileFollows(const QStringList& args, qsizetype next, bool commandSeen)
{
    if (next >= args.size() || args[next].startsWith(u'-')) return false;
    return commandSeen || !commandNamed(args[next]);
}

std::variant<Words, UsageError> splitWords(const QStringList& args)
{
    Words w;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == u'-') {
            if (w.command) {
                w.positional << arg;
            } else if (!(w.command = commandNamed(arg))) {
                return UsageError{QStringLiteral("unknown command \"%1\"").arg(arg)};
            }
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        const OptionRule* option = optionNamed(name);
        if (!option) return UsageError{QStringLiteral("unknown option %1").arg(name)};
        if (name == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        Given g{option, eq < 0 ? QString() : arg.mid(eq + 1)};
        const bool optional = name == QLatin1String("--csv");
        if (!option->takesValue && eq >= 0)
            return UsageError{QStringLiteral("%1 takes no value").arg(name)};
        if (option->takesValue && eq < 0) {
            if (optional ? csvFileFollows(args, i + 1, w.command.has_value()) : i + 1 < args.size())
                g.value = args[++i];
            else if (!optional)
                return UsageError{QStringLiteral("%1 wants a value").arg(name)};
        }
        w.options.push_back(g);
    }
    return w;
}

std::optional<QString> takePositional(Invocation& inv, const QStringList& words)
{
    switch (inv.command) {
    case Command::Address: {
        if (words.size() != 1) return QStringLiteral("address wants one new address");
        const std::optional<std::uint8_t> a = modbus::parseAddress(words[0]);
        if (!a || *a == 0 || *a > kLastAddress)
            return QStringLiteral("address %1: a bus address is 1 to %2 (248 to 255 are reserved "
                                  "in Modbus)")
                .arg(words[0])
                .arg(kLastAddress);
        inv.newAddress = *a;
        return std::nullopt;
    }
    case Command::Report:
        if (words.isEmpty()) return QStringLiteral("report wants one or more files");
        inv.files = words;
        return std::nullopt;
    default:
        if (!words.isEmpty()) return QStringLiteral("unexpected \"%1\"").arg(words[0]);
        return std::nullopt;
    }
}

std::optional<QString> checkCombination(const Invocation& inv, bool jsonAndCsv)
{
    if (jsonAndCsv) return QStringLiteral("--json and --csv (without FILE) both want the output");
    if (inv.command == Command::Read && !inv.csvFile.isEmpty())
        return QStringLiteral("read writes CSV to stdout: --csv without FILE");
    if (inv.command == Command::Set && inv.presets.empty())
        return QStringLiteral("set wants --current, --cutoff, --power or --module-baud");
    if (inv.command == Command::Watch && !inv.xlsxFile.isEmpty() && inv.addresses.size() > 1 &&
        QFileInfo(inv.xlsxFile).isDir())
        return QStringLiteral("--xlsx %1 is a folder: with several modules give a file name, "
                              "and each module gets FILE-ADDRESS.xlsx")
            .arg(inv.xlsxFile);
    if (inv.noDb &&
        (!inv.db.isEmpty() || !inv.cells.isEmpty() || !inv.cellType.isEmpty() || inv.ratedAh))
        return QStringLiteral("--no-db records nothing: --db, --cell, --type and --rated-ah "
                              "describe the record in the test library");
    if (inv.command == Command::Watch) {
        const auto names = cellNamesFor(inv);
        if (auto* e = std::get_if<UsageError>(&names)) return e->message;
    }
    if (inv.command == Command::Address && inv.addresses.size() > 1 && !inv.yes)
        return QStringLiteral(
                   "address: the new address is a broadcast that every module on the line takes; "
                   "%1 modules are named, so say --yes to give them all address %2")
            .arg(inv.addresses.size())
            .arg(inv.newAddress);
    return std::nullopt;
}

} // namespace

std::variant<QStringList, UsageError> cellNamesFor(const Invocation& inv)
{
    const qsizetype modules = qsizetype(inv.addresses.size());
    const bool pattern = inv.cells.size() == 1 && inv.cells.first().contains(QLatin1String("{n}"));
    if (!inv.cells.isEmpty() && !pattern && inv.cells.size() != modules)
        return UsageError{
            QStringLiteral("--cell: %1 module(s) but %2 cell name(s); give one --cell per module "
                           "in the order of --address, or one pattern such as --cell 'B{n}' "
                           "({n} counts the modules from 1)")
                .arg(modules)
                .arg(inv.cells.size())};
    QStringList names;
    for (qsizetype i = 0; i < modules; ++i) {
        if (inv.cells.isEmpty())
            names << QStringLiteral("%1-%2")
                         .arg(QFileInfo(inv.port).fileName())
                         .arg(inv.addresses[std::size_t(i)]);
        else
            names << QString(inv.cells[pattern ? 0 : i])
                         .replace(QLatin1String("{n}"), QString::number(i + 1));
    }
    return names;
}

std::variant<std::vector<std::uint8_t>, UsageError> parseAddressList(const QString& text)
{
    static const QRegularExpression item(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    std::vector<std::uint8_t> list;
    const auto bad = [&](const QString& why) { return UsageError{why}; };
    for (const QString& part : text.split(u',')) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        if (!m.hasMatch()) return bad(QStringLiteral("addresses are N, N,M or N-M"));
        const int first = m.captured(1).toInt();
        const int last = m.hasCaptured(2) ? m.captured(2).toInt() : first;
        if (first < 1 || last > kLastAddress || last < first)
            return bad(QStringLiteral("addresses are 1 to %1 (248 to 255 are reserved in Modbus), "
                                      "ranges low-high")
                           .arg(kLastAddress));
        for (int a = first; a <= last; ++a) {
            if (std::find(list.begin(), list.end(), a) != list.end())
                return bad(QStringLiteral("%1 is named twice").arg(a));
            list.push_back(std::uint8_t(a));
        }
    }
    return list;
}

std::optional<std::chrono::milliseconds> parseDuration(const QString& text,
                                                       std::chrono::milliseconds bareUnit)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+(?:\\.\\d+)?)(ms|s|m|h|d)?$"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    const QString unit = m.captured(2);
    const double ms = unit == QLatin1String("ms")  ? 1
                      : unit == QLatin1String("s") ? 1e3
                      : unit == QLatin1String("m") ? 60e3
                      : unit == QLatin1String("h") ? 3600e3
                      : unit == QLatin1String("d") ? 86400e3
                                                   : double(bareUnit.count());
    const double total = m.captured(1).toDouble() * ms;
    if (total > 1e12) return std::nullopt; // beyond any test
    return std::chrono::milliseconds(std::llround(total));
}

std::variant<Invocation, UsageError> parseArguments(const QStringList& args, const PortMap& ports)
{
    auto split = splitWords(args);
    if (auto* e = std::get_if<UsageError>(&split)) return *e;
    Words& w = std::get<Words>(split);

    Invocation inv;
    inv.port = ports.pathOf(1);
    for (const Given& g : w.options) {
        if (g.option->apply == nullptr) {
            inv.command = QLatin1String(g.option->name) == QLatin1String("--version")
                              ? Command::Version
                              : Command::Help;
            return inv;
        }
    }
    if (!w.command) return UsageError{QStringLiteral("no command given")};
    inv.command = *w.command;
    if (inv.command == Command::Help || inv.command == Command::Version) return inv;

    bool json = false, csvOut = false;
    for (const Given& g : w.options) {
        if (!(g.option->commands & bit(inv.command)))
            return UsageError{QStringLiteral("%1 does not go with %2")
                                  .arg(QLatin1String(g.option->name), commandName(inv.command))};
        if (std::optional<QString> e = g.option->apply(inv, g.value))
            return UsageError{QStringLiteral("%1%2: %3")
                                  .arg(QLatin1String(g.option->name),
                                       g.value.isEmpty() ? QString() : u' ' + g.value, *e)};
        json = json || QLatin1String(g.option->name) == QLatin1String("--json");
        csvOut = csvOut ||
                 (QLatin1String(g.option->name) == QLatin1String("--csv") && g.value.isEmpty());
    }
    if (std::optional<QString> e = takePositional(inv, w.positional)) return UsageError{*e};
    if (std::optional<QString> e = checkCombination(inv, json && csvOut)) return UsageError{*e};
    return inv;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: eload-cli [--port PATH|COMn] [--baud N] [--address LIST] COMMAND [options]\n"
        "\n"
        "The 150 W DC load module (one or several on one RS-485 line) from a terminal\n"
        "or a script, as a Modbus RTU master.\n"
        "\n"
        "Commands:\n"
        "  read                    the values once (a table; --json or --csv for programs)\n"
        "  watch                   poll every --interval until the test ends (below)\n"
        "  set                     write presets: --current A (0.01-10), --cutoff V (1-99.99),\n"
        "                          --power W (1-150), --module-baud N (the module's own rate)\n"
        "  on | off                switch the load, then read the switch back\n"
        "  clear                   zero capacity, energy and discharge time (load off only)\n"
        "  scan                    which addresses answer on the line (all 247 unless\n"
        "                          --address names some): each is asked once and given\n"
        "                          50 ms, about 15 s for all at 9600 Bd; --json: one\n"
        "                          object per module, as read --json\n"
        "  address NEW             give the module a new address (1-247) by broadcast,\n"
        "                          which every module on the line takes: first a scan\n"
        "                          must find exactly one module (--yes skips the scan);\n"
        "                          then its old address must be silent and NEW answer\n"
        "  report FILE...          the summary of recordings (.xlsx of the panel, CSV of watch)\n"
        "  tests COMMAND ...       the test library: list, show, export, import, grade,\n"
        "                          remove, sync, pack (eload-cli tests --help)\n"
        "\n"
        "Line:\n"
        "  --port PATH|COMn        device, or COM1-COM9 as the panel maps them (ELOAD_COMn,\n"
        "                          else /dev/ttyUSB{n-1}); default COM1. The port is ours\n"
        "                          while we run: the panel and other copies find it busy\n"
        "  --baud N                4800, 9600 (default), 19200, 38400, 57600 or 115200\n"
        "  --address LIST          modules: 1 (default), 1,2,3, 1-4 or 1,3-5; 1 to 247\n"
        "\n"
        "Output of read, scan and watch:\n"
        "  --json                  one JSON object per module and reply, a line each\n"
        "  --csv [FILE]            CSV rows on stdout, or the CSV log into FILE (watch)\n"
        "  --xlsx FILE             (watch) record workbooks in the panel's layout\n"
        "                          several modules: one file per module, FILE-ADDRESS.ext\n"
        "\n"
        "Watch:\n"
        "  --interval DURATION     poll period of each module (default 500ms); shorter\n"
        "                          than the line allows: as fast as the line carries\n"
        "  --load-on               switch the load on at the start (and off at any end);\n"
        "                          a load that does not read on within 3 replies ends\n"
        "                          its test (load-not-on, exit status 1)\n"
        "  --stop-below V          end when the voltage under load reads below V on 3\n"
        "                          replies in a row (one odd reading does not count)\n"
        "  --stop-at-ah AH         end when the discharge's own capacity reaches AH\n"
        "  --stop-at-wh WH         end when the discharge's own energy reaches WH\n"
        "  --stop-after DURATION   end after DURATION (a bare number counts seconds)\n"
        "  --lost-after DURATION   ride through a silent or lost line for this long\n"
        "                          (default 5m): the port is reopened by its path and\n"
        "                          the test goes on in the same files; after it, the\n"
        "                          test ends as line-lost\n"
        "  A module's test also ends when it reports UVLO, OPP or OTP or switches its\n"
        "  load off. At an end the load is switched off and read back, the files are\n"
        "  closed and the summary printed. Ctrl+C or SIGTERM end the same way but\n"
        "  switch the load off only with --load-on; a second one still tries that\n"
        "  switch-off for about a second, a third ends the program at once. A reader\n"
        "  of stdout that falls behind loses display lines (counted), never a poll.\n"
        "\n"
        "Test library (watch): each module's test is recorded as it runs, reply by\n"
        "reply, with the figures of its summary; a database that fails never holds\n"
        "the test up (its replies wait in the spool, stderr says so):\n"
        "  --db PATH|URL           a SQLite file or postgresql://...; default $ELOAD_DB,\n"
        "                          else ~/.local/share/eload-panel/tests.sqlite\n"
        "  --no-db                 record nothing\n"
        "  --cell NAME             the cell under test: once per module in the order of\n"
        "                          --address, or once as a pattern whose {n} counts the\n"
        "                          modules from 1 ('B{n}'); default PORT-ADDRESS\n"
        "  --type TEXT             the cells' type (\"18650 Li-ion\")\n"
        "  --rated-ah AH           the cells' rated capacity, for the state of health\n"
        "\n"
        "Exit status: 0 done; 1 a file failed, a module did not take a command or its\n"
        "load did not come on, or the library's writer did not finish within 60 s;\n"
        "2 bad arguments, or the port is missing, busy or not\n"
        "permitted; 3 a module did not answer, or its line was lost.\n");
}

} // namespace eload::cli
