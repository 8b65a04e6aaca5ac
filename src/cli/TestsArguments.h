#pragma once
// The arguments of `eload-cli tests COMMAND ...`: the test library from a
// terminal. Parsed on their own, apart from the line's options: nothing of
// the serial line is needed here.

#include "library/Store.h"

#include <QStringList>
#include <variant>

namespace eload::cli {

enum class TestsCommand { Help, List, Show, Export, Import, Grade, Remove, Sync, Pack };
enum class TestsOutput { People, Json, Csv };

struct TestsInvocation {
    TestsCommand command = TestsCommand::Help;
    QString db; // --db; empty: ELOAD_DB or the default file
    TestsOutput output = TestsOutput::People;
    QStringList operands; // IDs or files
    library::TestFilter filter;
    library::Cell cell; // import
    QString station;    // import
    QString format;     // export: "csv" or "xlsx"
    QString file;       // export --output
    QString rules;      // grade --rules; empty: the default file
    // pack
    int series = 0, parallel = 0;
    bool graded = false; // only cells whose test has a grade other than reject
    bool balanceResistance = false;
    std::optional<double> maxResistanceSpreadPercent;
};

struct TestsUsageError {
    QString message;
};

std::variant<TestsInvocation, TestsUsageError> parseTestsArguments(const QStringList& args);
QString testsHelpText();

} // namespace eload::cli
