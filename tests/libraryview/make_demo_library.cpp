// make_demo_library FILE [CELLS] [RULES.json]: a SQLite test library of CELLS
// (default 40) realistic tests, graded by the demo rules, which it also
// writes to RULES.json when given (for the window's health colours).

#include "DemoLibrary.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
    for (const testing::DemoCell& cell : testing::demoCells(count, start))
        testing::storeDemoTest(store, cell, testing::demoGrade(cell, rules));
    if (args.size() > 3) {
        QFile file(args[3]);
        if (!file.open(QIODevice::WriteOnly) || file.write(rulesJson(rules)) < 0)
            qFatal("cannot write %s", qPrintable(args[3]));
    }
    std::printf("%d tests in %s\n", count, qPrintable(args[1]));
    return 0;
}
