#include "cli/TestsCommands.h"

#include "cli/Console.h"
#include "cli/TestsOutput.h"
#include "library/Export.h"
#include "library/Grading.h"
#include "library/Import.h"
#include "library/Spool.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace eload::cli {

namespace {

using library::Store;
using library::TestRecord;

qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }

void printJson(const QJsonObject& o)
{
    printOut(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

int failed(const library::Failure& f)
{
    printError(f.message);
    return kFailed;
}

// The test an operand names; a message and nothing when there is none.
std::optional<TestRecord> testNamed(Store& store, const QString& operand)
{
    auto found = store.find(operand);
    if (auto* f = library::failureOf(found)) {
        printError(f->message);
        return std::nullopt;
    }
    auto& record = std::get<std::optional<TestRecord>>(found);
    if (!record)
        printError(QStringLiteral("no test %1 in %2").arg(operand, store.location().displayText()));
    return record;
}

void printRecords(const std::vector<TestRecord>& records, TestsOutput output)
{
    const qint64 t = now();
    if (output == TestsOutput::Json) {
        for (const TestRecord& r : records)
            printJson(recordJson(r, t));
        return;
    }
    const bool csv = output == TestsOutput::Csv;
    QString text = (csv ? recordCsvHeader() : recordTableHeader()) + u'\n';
    for (const TestRecord& r : records)
        text += (csv ? recordCsvRow(r, t) : recordTableRow(r, t)) + u'\n';
    printOut(text);
}

// The curve to stdout as the CSV log, else to its file as asked.
int writeCurve(const std::vector<discharge::Sample>& curve, const TestsInvocation& inv)
{
    if (inv.format == u"csv" && inv.file.isEmpty()) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) return failed({out.errorString()});
        if (auto f = library::writeCsv(curve, out)) return failed(*f);
        return kDone;
    }
    QStringList files{inv.file};
    if (inv.format == u"csv") {
        if (auto f = library::exportCsv(curve, inv.file)) return failed(*f);
    } else {
        auto books = library::exportWorkbook(curve, inv.file);
        if (auto* f = library::failureOf(books)) return failed(*f);
        files = std::get<QStringList>(books);
    }
    if (inv.output == TestsOutput::Json)
        printJson({{QStringLiteral("files"), QJsonArray::fromStringList(files)},
                   {QStringLiteral("replies"), qint64(curve.size())}});
    else
        printOut(QStringLiteral("%1 replies written: %2\n")
                     .arg(curve.size())
                     .arg(files.join(QStringLiteral(", "))));
    return kDone;
}

// The tests `grade` works on: those named, else those the filters select.
std::optional<library::TestFilter> gradeSelection(Store& store, const TestsInvocation& inv)
{
    library::TestFilter filter = inv.filter;
    for (const QString& operand : inv.operands) {
        const auto record = testNamed(store, operand);
        if (!record) return std::nullopt;
        filter.ids << record->id;
    }
    return filter;
}

std::optional<library::Failure> storeGrades(Store& store, const std::vector<TestRecord>& records,
                                            const std::vector<library::Grading>& grades)
{
    if (auto f = store.beginWrite()) return f;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (auto f = store.storeGrade(records[i].id, grades[i].grade)) {
            store.rollback();
            return f;
        }
    return store.commit();
}

std::optional<library::Failure> removeOne(Store& store, const TestRecord& r)
{
    if (auto f = store.beginWrite()) return f;
    auto removed = store.remove(r.id);
    if (auto* f = library::failureOf(removed)) {
        store.rollback();
        return *f;
    }
    return store.commit();
}

} // namespace

int listTests(Store& store, const TestsInvocation& inv)
{
    const bool table = inv.output == TestsOutput::People;
    auto records =
        store.list(inv.filter, table ? library::ListDetail::Table : library::ListDetail::Full);
    if (auto* f = library::failureOf(records)) return failed(*f);
    printRecords(std::get<std::vector<TestRecord>>(records), inv.output);
    return kDone;
}

int showTest(Store& store, const TestsInvocation& inv)
{
    const auto record = testNamed(store, inv.operands.first());
    if (!record) return kFailed;
    if (inv.output != TestsOutput::People) {
        printRecords({*record}, inv.output);
        return kDone;
    }
    auto bytes = store.curveBytes(record->id);
    const qint64 size = std::holds_alternative<qint64>(bytes) ? std::get<qint64>(bytes) : -1;
    printOut(recordPage(*record, now(), size));
    return kDone;
}

int exportTest(Store& store, const TestsInvocation& inv)
{
    const auto record = testNamed(store, inv.operands.first());
    if (!record) return kFailed;
    auto curve = store.curve(record->id);
    if (auto* f = library::failureOf(curve)) return failed(*f);
    return writeCurve(std::get<std::vector<discharge::Sample>>(curve), inv);
}

int importFiles(Store& store, const TestsInvocation& inv)
{
    const library::ImportOptions options{inv.cell, inv.station};
    int status = kDone;
    for (const QString& file : inv.operands) {
        auto outcome = library::importRecording(store, file, options);
        if (auto* f = library::failureOf(outcome)) {
            status = failed(*f);
            continue;
        }
        const auto& o = std::get<library::ImportOutcome>(outcome);
        if (inv.output == TestsOutput::Json)
            printJson(importJson(o));
        else
            printOut(importText(o));
    }
    return status;
}

int gradeTests(Store& store, const TestsInvocation& inv)
{
    const QString path = inv.rules.isEmpty() ? library::defaultGradeRulesPath() : inv.rules;
    auto rules = library::loadGradeRules(path);
    if (auto* f = library::failureOf(rules))
        return failed({f->message +
                       QStringLiteral("\nRules are a JSON object of cell types, e.g. "
                                      "{\"18650 Li-ion\": [{\"grade\": \"A\", "
                                      "\"min_soh_percent\": 90, \"max_resistance_mohm\": 45}]}")});
    const auto filter = gradeSelection(store, inv);
    if (!filter) return kFailed;
    auto records = store.list(*filter);
    if (auto* f = library::failureOf(records)) return failed(*f);
    const auto& tests = std::get<std::vector<TestRecord>>(records);
    std::vector<library::Grading> grades;
    for (const TestRecord& r : tests)
        grades.push_back(library::gradeOf(r, std::get<library::GradeRules>(rules)));
    if (auto f = storeGrades(store, tests, grades)) return failed(*f);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        if (inv.output == TestsOutput::Json)
            printJson(gradingJson(tests[i], grades[i]));
        else
            printOut(gradingText(tests[i], grades[i]));
    }
    return kDone;
}

int removeTests(Store& store, const TestsInvocation& inv)
{
    int status = kDone;
    for (const QString& operand : inv.operands) {
        const auto record = testNamed(store, operand);
        if (!record) {
            status = kFailed;
            continue;
        }
        if (auto f = removeOne(store, *record)) {
            status = failed(*f);
            continue;
        }
        if (inv.output == TestsOutput::Json)
            printJson({{QStringLiteral("removed"), record->id}});
        else
            printOut(QStringLiteral("removed test %1 (cell %2, started %3)\n")
                         .arg(record->id)
                         .arg(record->header.cell.name,
                              QDateTime::fromMSecsSinceEpoch(record->startMsecs())
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    }
    return status;
}

int syncSpool(Store& store, const TestsInvocation& inv)
{
    const QString folder = library::defaultSpoolFolder(store.location());
    auto replayed = library::replayLeftovers(store, folder, now());
    if (auto* f = library::failureOf(replayed)) return failed(*f);
    const auto& r = std::get<library::Replayed>(replayed);
    if (inv.output == TestsOutput::Json)
        printJson({{QStringLiteral("replies"), r.samples},
                   {QStringLiteral("finished"), qint64(r.finished.size())}});
    else
        printOut(QStringLiteral("%1 replies from the spool stored, %2 tests finished\n")
                     .arg(r.samples)
                     .arg(r.finished.size()));
    return kDone;
}

} // namespace eload::cli
