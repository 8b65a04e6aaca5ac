// eload-cli: the load module from a terminal and from scripts.

#include "cli/Arguments.h"
#include "cli/Bus.h"
#include "cli/Console.h"
#include "cli/ModuleCommands.h"
#include "cli/Tests.h"
#include "cli/Watch.h"
#include "core/TerminationSignals.h"
#include "desktop/SleepInhibitor.h"
#include "library/Location.h"

#include <QCoreApplication>
#include <csignal>

#ifndef ELOAD_VERSION
#define ELOAD_VERSION "0.0.0"
#endif

namespace {

using namespace eload;
using namespace eload::cli;

// Workbooks that an earlier watch left as journals (a crash, a second
// signal) are made before the new files are checked, so that one made under
// the name asked for now refuses it before anything is created.
void recoverWorkbooks(const QString& xlsxFile)
{
    const Recovery r = WorkbookRecording::recoverFolder(Watch::workbookFolder(xlsxFile));
    for (const QString& book : r.books)
        printError(QStringLiteral("recovered an unfinished recording: %1").arg(book));
    for (const QString& failure : r.failures)
        printError(failure);
}

int runWatch(const Invocation& inv, std::unique_ptr<Bus> bus,
             const std::optional<library::DatabaseLocation>& library)
{
    // A closed pipe on stdout must not end the test before its load is off.
    std::signal(SIGPIPE, SIG_IGN);
    Watch watch(inv, std::move(bus), library);
    // The second signal still switches the loads off; the third ends at once.
    TerminationSignals signals(nullptr, 2);
    QObject::connect(&signals, &TerminationSignals::received, &watch, &Watch::stop);
    QObject::connect(&watch, &Watch::finished, &QCoreApplication::exit);
    // A machine that suspends mid-test stops the polling and the stop rules.
    const desktop::SleepInhibitor awake(QStringLiteral("eload-cli"),
                                        QStringLiteral("battery discharge test running"),
                                        desktop::SleepInhibitor::Hold);
    watch.start();
    return QCoreApplication::exec();
}

// Where a watch records its tests, resolved as `tests` resolves it; nothing
// with --no-db. A --db that names no database is bad usage: nothing is sent.
std::variant<std::optional<library::DatabaseLocation>, QString> libraryOf(const Invocation& inv)
{
    if (inv.command != Command::Watch || inv.noDb) return std::nullopt;
    auto location = library::parseLocation(inv.db);
    if (auto* f = library::failureOf(location)) return f->message;
    return std::get<library::DatabaseLocation>(location);
}

int runOnLine(const Invocation& inv)
{
    const auto library = libraryOf(inv);
    if (auto* e = std::get_if<QString>(&library)) {
        printError(*e + QStringLiteral("\nTry 'eload-cli --help'."));
        return kBadUsage;
    }
    if (inv.command == Command::Watch) {
        if (!inv.xlsxFile.isEmpty()) recoverWorkbooks(inv.xlsxFile);
        if (auto refused = Watch::refusedFile(inv)) {
            printError(*refused);
            return kBadUsage;
        }
    }
    auto opened = Bus::open({inv.port, inv.baud});
    if (auto* e = std::get_if<OpenError>(&opened)) {
        printError(e->message);
        return kBadUsage;
    }
    std::unique_ptr<Bus> bus = std::get<std::unique_ptr<Bus>>(std::move(opened));
    switch (inv.command) {
    case Command::Read: return readValues(*bus, inv);
    case Command::Set: return setPresets(*bus, inv);
    case Command::On: return switchLoad(*bus, inv, true);
    case Command::Off: return switchLoad(*bus, inv, false);
    case Command::Clear: return clearData(*bus, inv);
    case Command::Address: return changeAddress(*bus, inv);
    case Command::Scan: return scanModules(*bus, inv);
    default:
        return runWatch(inv, std::move(bus),
                        std::get<std::optional<library::DatabaseLocation>>(library));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (!args.isEmpty() && args.first() == QLatin1String("tests")) return runTests(args.mid(1));
    auto parsed = parseArguments(args, PortMap::fromEnvironment());
    if (auto* e = std::get_if<UsageError>(&parsed)) {
        printError(e->message + QStringLiteral("\nTry 'eload-cli --help'."));
        return kBadUsage;
    }
    const Invocation& inv = std::get<Invocation>(parsed);
    switch (inv.command) {
    case Command::Help: printOut(helpText()); return kDone;
    case Command::Version: printOut(QStringLiteral("eload-cli " ELOAD_VERSION "\n")); return kDone;
    case Command::Report: return reportRecordings(inv);
    default: return runOnLine(inv);
    }
}
