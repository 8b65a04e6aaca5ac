#include "cli/TestsArguments.h"

#include <QDateTime>
#include <QHash>
#include <cmath>

namespace eload::cli {

namespace {

using Command = TestsCommand;

const QHash<QString, Command> kCommands = {
    {QStringLiteral("list"), Command::List},     {QStringLiteral("show"), Command::Show},
    {QStringLiteral("export"), Command::Export}, {QStringLiteral("import"), Command::Import},
    {QStringLiteral("grade"), Command::Grade},   {QStringLiteral("remove"), Command::Remove},
    {QStringLiteral("sync"), Command::Sync},     {QStringLiteral("help"), Command::Help},
    {QStringLiteral("pack"), Command::Pack},
};

// What an option takes, and the commands that accept it.
struct OptionRule {
    bool takesValue;
    QList<Command> commands; // empty: every command
};

const QList<Command> kFiltered = {Command::List, Command::Grade, Command::Pack};

const QHash<QString, OptionRule> kOptions = {
    {QStringLiteral("--db"), {true, {}}},
    {QStringLiteral("--json"), {false, {}}},
    {QStringLiteral("--csv"), {false, {}}},
    {QStringLiteral("--help"), {false, {}}},
    {QStringLiteral("--cell"),
     {true, {Command::List, Command::Grade, Command::Import, Command::Pack}}},
    {QStringLiteral("--type"),
     {true, {Command::List, Command::Grade, Command::Import, Command::Pack}}},
    {QStringLiteral("--since"), {true, kFiltered}},
    {QStringLiteral("--until"), {true, kFiltered}},
    {QStringLiteral("--grade"), {true, kFiltered}},
    {QStringLiteral("--rated-ah"), {true, {Command::Import}}},
    {QStringLiteral("--station"), {true, {Command::Import}}},
    {QStringLiteral("--format"), {true, {Command::Export}}},
    {QStringLiteral("--output"), {true, {Command::Export}}},
    {QStringLiteral("--rules"), {true, {Command::Grade}}},
    {QStringLiteral("--series"), {true, {Command::Pack}}},
    {QStringLiteral("--parallel"), {true, {Command::Pack}}},
    {QStringLiteral("--graded"), {false, {Command::Pack}}},
    {QStringLiteral("--balance-resistance"), {false, {Command::Pack}}},
    {QStringLiteral("--max-resistance-spread"), {true, {Command::Pack}}},
};

struct Given {
    QString name, value;
};

// A date alone is local midnight; `endOfDay` takes the midnight after it.
std::optional<qint64> timeOf(const QString& text, bool endOfDay)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return QDateTime(endOfDay ? date.addDays(1) : date, QTime(0, 0)).toMSecsSinceEpoch();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (time.isValid()) return time.toMSecsSinceEpoch();
    return std::nullopt;
}

std::optional<QString> takeTime(const Given& g, bool endOfDay, std::optional<qint64>& into)
{
    into = timeOf(g.value, endOfDay);
    if (into) return std::nullopt;
    return QStringLiteral("%1 %2: not a date (2026-03-05) or date and time (2026-03-05T14:00)")
        .arg(g.name, g.value);
}

std::optional<QString> takeRated(const Given& g, TestsInvocation& inv)
{
    bool ok = false;
    const double v = g.value.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0)
        return QStringLiteral("--rated-ah %1: a capacity in A·h above 0, e.g. 2.5").arg(g.value);
    inv.cell.ratedAh = v;
    return std::nullopt;
}

std::optional<QString> takeFormat(const Given& g, TestsInvocation& inv)
{
    if (g.value != u"csv" && g.value != u"xlsx")
        return QStringLiteral("--format %1: csv or xlsx").arg(g.value);
    inv.format = g.value;
    return std::nullopt;
}

// A pack's count of groups or of cells in a group.
std::optional<QString> takeCount(const Given& g, int& into)
{
    bool ok = false;
    into = g.value.toInt(&ok);
    if (ok && into >= 1 && into <= 10'000) return std::nullopt;
    return QStringLiteral("%1 %2: a whole number from 1, e.g. 4").arg(g.name, g.value);
}

std::optional<QString> takeSpread(const Given& g, TestsInvocation& inv)
{
    bool ok = false;
    const double v = QString(g.value).remove(u'%').toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0)
        return QStringLiteral("%1 %2: a percentage of 0 or more, e.g. 5").arg(g.name, g.value);
    inv.maxResistanceSpreadPercent = v;
    return std::nullopt;
}

// The value of an option into the invocation; what was wrong, if anything.
std::optional<QString> take(const Given& g, TestsInvocation& inv)
{
    const QString& n = g.name;
    if (n == u"--db")
        inv.db = g.value;
    else if (n == u"--json")
        inv.output = TestsOutput::Json;
    else if (n == u"--csv")
        inv.output = TestsOutput::Csv;
    else if (n == u"--help")
        inv.command = Command::Help;
    else if (n == u"--cell")
        inv.filter.cell = inv.cell.name = g.value;
    else if (n == u"--type")
        inv.filter.type = inv.cell.type = g.value;
    else if (n == u"--since")
        return takeTime(g, false, inv.filter.sinceMsecs);
    else if (n == u"--until")
        return takeTime(g, true, inv.filter.untilMsecs);
    else if (n == u"--grade")
        inv.filter.grade = g.value;
    else if (n == u"--rated-ah")
        return takeRated(g, inv);
    else if (n == u"--station")
        inv.station = g.value;
    else if (n == u"--format")
        return takeFormat(g, inv);
    else if (n == u"--output")
        inv.file = g.value;
    else if (n == u"--rules")
        inv.rules = g.value;
    else if (n == u"--series")
        return takeCount(g, inv.series);
    else if (n == u"--parallel")
        return takeCount(g, inv.parallel);
    else if (n == u"--graded")
        inv.graded = true;
    else if (n == u"--balance-resistance")
        inv.balanceResistance = true;
    else if (n == u"--max-resistance-spread")
        return takeSpread(g, inv);
    return std::nullopt;
}

// Splits options (with their values) from the words around them.
std::variant<QList<Given>, TestsUsageError> optionsOf(const QStringList& args, QStringList& words)
{
    QList<Given> given;
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        if (name == u"-o") name = QStringLiteral("--output");
        if (name == u"--") { // the rest are operands, whatever they look like
            words << args.mid(i + 1);
            break;
        }
        if (!name.startsWith(QLatin1String("--"))) {
            words << args[i];
            continue;
        }
        QString value;
        const qsizetype eq = name.indexOf(u'=');
        const bool inline_ = eq > 0;
        if (inline_) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        const auto known = kOptions.constFind(name);
        if (known == kOptions.constEnd())
            return TestsUsageError{QStringLiteral("unknown option %1").arg(name)};
        if (known->takesValue && !inline_) {
            if (i + 1 >= args.size())
                return TestsUsageError{QStringLiteral("%1 needs a value").arg(name)};
            value = args[++i];
        }
        if (!known->takesValue && inline_)
            return TestsUsageError{QStringLiteral("%1 takes no value").arg(name)};
        given << Given{name, value};
    }
    return given;
}

std::optional<QString> operandsFit(const TestsInvocation& inv)
{
    const qsizetype n = inv.operands.size();
    switch (inv.command) {
    case Command::List:
    case Command::Sync:
    case Command::Pack:
        if (n > 0) return QStringLiteral("unexpected %1").arg(inv.operands.first());
        break;
    case Command::Show:
    case Command::Export:
        if (n != 1) return QStringLiteral("one test ID expected");
        break;
    case Command::Import:
        if (n == 0) return QStringLiteral("import: which files? (.xlsx or .csv)");
        break;
    case Command::Remove:
        if (n == 0) return QStringLiteral("remove: which tests? (their IDs)");
        break;
    case Command::Grade:
    case Command::Help: break;
    }
    if (inv.command == Command::Pack && (inv.series == 0 || inv.parallel == 0))
        return QStringLiteral("pack needs --series S and --parallel P (e.g. 4 and 5 for 4S5P)");
    if (inv.command == Command::Export && inv.format == u"xlsx" && inv.file.isEmpty())
        return QStringLiteral("export --format xlsx needs --output FILE");
    return std::nullopt;
}

QString commandName(Command c) { return kCommands.key(c); }

} // namespace

std::variant<TestsInvocation, TestsUsageError> parseTestsArguments(const QStringList& args)
{
    QStringList words;
    auto options = optionsOf(args, words);
    if (auto* e = std::get_if<TestsUsageError>(&options)) return *e;
    TestsInvocation inv;
    if (words.isEmpty()) return inv; // help
    if (!kCommands.contains(words.first()))
        return TestsUsageError{QStringLiteral("unknown tests command %1").arg(words.first())};
    inv.command = kCommands.value(words.first());
    inv.operands = words.mid(1);
    for (const Given& g : std::get<QList<Given>>(options)) {
        const QList<Command>& allowed = kOptions.value(g.name).commands;
        if (!allowed.isEmpty() && !allowed.contains(inv.command))
            return TestsUsageError{QStringLiteral("%1 is no option of tests %2")
                                       .arg(g.name, commandName(inv.command))};
        if (auto e = take(g, inv)) return TestsUsageError{*e};
    }
    if (inv.command == Command::Export && inv.format.isEmpty())
        inv.format = inv.file.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)
                         ? QStringLiteral("xlsx")
                         : QStringLiteral("csv");
    if (auto e = operandsFit(inv)) return TestsUsageError{*e};
    return inv;
}

QString testsHelpText()
{
    return QStringLiteral(
        "Usage: eload-cli tests [--db URL|PATH] [--json|--csv] COMMAND [options]\n"
        "\n"
        "The test library: one record per test of a cell, with its figures and its curve.\n"
        "\n"
        "  list [--cell NAME] [--type TYPE] [--since DATE] [--until DATE] [--grade G]\n"
        "                       the tests, oldest first; NAME may hold * and ?\n"
        "  show ID              one test: cell, station, presets, figures, flags, grade\n"
        "  export ID [--format csv|xlsx] [--output FILE]\n"
        "                       its curve as the CSV log (stdout without FILE) or as\n"
        "                       workbooks of the panel's layout\n"
        "  import FILE... [--cell NAME] [--type TYPE] [--rated-ah AH] [--station NAME]\n"
        "                       earlier workbooks and CSV logs, cut into discharges; a\n"
        "                       file imported before is recognised; the cell's name is\n"
        "                       the file's unless given\n"
        "  grade [ID...] [--rules FILE] [list's filters]\n"
        "                       grades by the rules of each cell type\n"
        "                       (default rules: ~/.config/eload-panel/grades.json)\n"
        "  remove ID...         deletes tests with their curves\n"
        "  sync                 stores what writers left in the spool\n"
        "  pack --series S --parallel P [list's filters] [--graded]\n"
        "       [--balance-resistance] [--max-resistance-spread PCT]\n"
        "                       matches cells into S groups of P in parallel, group\n"
        "                       capacities as equal as possible: each cell counts with\n"
        "                       its most recent finished test among those the filters\n"
        "                       select (one ended by OPP, OTP or a lost line leaves\n"
        "                       the cell out); the S*P cells of most capacity go in.\n"
        "                       --graded: only cells whose test has a grade but reject;\n"
        "                       --balance-resistance: then the groups' resistances\n"
        "                       closest; --max-resistance-spread: their spread at most\n"
        "                       PCT % of the mean, before capacity. Prints each group,\n"
        "                       the spread and its proof or lower bound, the cells left\n"
        "                       over; too few cells is exit status 2\n"
        "\n"
        "  --db URL|PATH        a SQLite file, or postgresql://user@host:port/database?...\n"
        "                       (libpq's service and password files apply); default\n"
        "                       $ELOAD_DB, else ~/.local/share/eload-panel/tests.sqlite\n"
        "  --json, --csv        for programs: one JSON object per line, or CSV\n"
        "\n"
        "An ID is a test's number in this database or its UUID. Exit status: 0 done,\n"
        "1 a database or file failed or a test was not found, 2 bad arguments.\n");
}

} // namespace eload::cli
