#include "cli/Tests.h"

#include "cli/Console.h"
#include "cli/TestsCommands.h"

namespace eload::cli {

namespace {

using library::Store;

int runCommand(Store& store, const TestsInvocation& inv)
{
    switch (inv.command) {
    case TestsCommand::List: return listTests(store, inv);
    case TestsCommand::Show: return showTest(store, inv);
    case TestsCommand::Export: return exportTest(store, inv);
    case TestsCommand::Import: return importFiles(store, inv);
    case TestsCommand::Grade: return gradeTests(store, inv);
    case TestsCommand::Remove: return removeTests(store, inv);
    case TestsCommand::Sync: return syncSpool(store, inv);
    case TestsCommand::Pack: return packCells(store, inv);
    case TestsCommand::Help: break;
    }
    return kDone;
}

} // namespace

int runTests(const QStringList& args)
{
    auto parsed = parseTestsArguments(args);
    if (auto* e = std::get_if<TestsUsageError>(&parsed)) {
        printError(e->message + QStringLiteral("\nTry 'eload-cli tests --help'."));
        return kBadUsage;
    }
    const TestsInvocation& inv = std::get<TestsInvocation>(parsed);
    if (inv.command == TestsCommand::Help) {
        printOut(testsHelpText());
        return kDone;
    }
    auto location = library::parseLocation(inv.db);
    if (auto* f = library::failureOf(location)) {
        printError(f->message);
        return kBadUsage;
    }
    auto store = Store::open(std::get<library::DatabaseLocation>(location));
    if (auto* f = library::failureOf(store)) {
        printError(f->message);
        return kFailed;
    }
    return runCommand(*std::get<std::unique_ptr<Store>>(store), inv);
}

} // namespace eload::cli
