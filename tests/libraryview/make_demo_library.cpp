// make_demo_library FILE [CELLS] [RULES.json] [REPORT.pdf]: a SQLite test
// library of CELLS (default 40) realistic tests, graded by the demo rules,
// which it also writes to RULES.json when given (for the window's health
// colours); REPORT.pdf: the first test's report, as the window writes it.

#include "DemoLibrary.h"

#include "libraryview/Report.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using namespace eload;

namespace {

QByteArray rulesJson(const library::GradeRules& rules)
{
    QJsonObject types;
    for (auto it = rules.byType.constBegin(); it != rules.byType.constEnd(); ++it) {
        QJsonArray list;
        for (const library::GradeRule& r : it.value()) {
            QJsonObject o{{QStringLiteral("grade"), r.grade}};
            if (r.minSohPercent) o.insert(QStringLiteral("min_soh_percent"), *r.minSohPercent);
            if (r.maxResistanceMilliohm)
                o.insert(QStringLiteral("max_resistance_mohm"), *r.maxResistanceMilliohm);
            list.append(o);
        }
        types.insert(it.key(), list);
    }
    return QJsonDocument(types).toJson();
}

void writeFirstReport(library::Store& store, qint64 id, const library::GradeRules& rules,
                      const QString& path)
{
    auto record = store.byId(id);
    auto samples = store.curve(id);
    if (library::failureOf(record) || library::failureOf(samples))
        qFatal("cannot read test %lld", id);
    const library::TestRecord& test = *std::get<std::optional<library::TestRecord>>(record);
    const auto curve =
        libraryview::curveOf(test, std::get<std::vector<discharge::Sample>>(samples));
    if (auto error = libraryview::writeReport(path, test, curve, rules))
        qFatal("%s", qPrintable(*error));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv); // fonts for the report
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: make_demo_library FILE [CELLS] [RULES.json]\n", stderr);
        return 2;
    }
    auto location = library::parseLocation(args[1]);
    if (auto* f = library::failureOf(location)) qFatal("%s", qPrintable(f->message));
    auto opened = library::Store::open(std::get<library::DatabaseLocation>(location));
    if (auto* f = library::failureOf(opened)) qFatal("%s", qPrintable(f->message));
    auto& store = *std::get<std::unique_ptr<library::Store>>(opened);
    const int count = args.size() > 2 ? args[2].toInt() : 40;
    const library::GradeRules rules = testing::demoGradeRules();
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - qint64(count) * 5 * 3'600'000;
    qint64 first = 0;
    for (const testing::DemoCell& cell : testing::demoCells(count, start)) {
        const qint64 id = testing::storeDemoTest(store, cell, testing::demoGrade(cell, rules));
        first = first ? first : id;
    }
    if (args.size() > 3) {
        QFile file(args[3]);
        if (!file.open(QIODevice::WriteOnly) || file.write(rulesJson(rules)) < 0)
            qFatal("cannot write %s", qPrintable(args[3]));
    }
    if (args.size() > 4) writeFirstReport(store, first, rules, args[4]);
    std::printf("%d tests in %s\n", count, qPrintable(args[1]));
    return 0;
}
