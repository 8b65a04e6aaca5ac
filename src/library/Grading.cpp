#include "library/Grading.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cmath>

namespace eload::library {

namespace {

using discharge::EndReason;

constexpr qint64 kMaxRulesBytes = 1 << 20;

Failure badRules(const QString& path, const QString& what)
{
    return {QStringLiteral("%1: %2").arg(path, what)};
}

std::optional<double> boundOf(const QJsonObject& o, const QString& key, bool& bad)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) return std::nullopt;
    if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0) bad = true;
    return v.toDouble();
}

Result<GradeRule> ruleOf(const QString& path, const QString& type, const QJsonValue& v)
{
    static const QStringList known = {QStringLiteral("grade"), QStringLiteral("min_soh_percent"),
                                      QStringLiteral("max_resistance_mohm")};
    const QJsonObject o = v.toObject();
    const QString where = QStringLiteral("type \"%1\"").arg(type);
    if (!v.isObject() || !o.value(QStringLiteral("grade")).isString() ||
        o.value(QStringLiteral("grade")).toString().trimmed().isEmpty())
        return badRules(path, where + QStringLiteral(": each rule needs a \"grade\" name"));
    for (const QString& key : o.keys())
        if (!known.contains(key))
            return badRules(path, where + QStringLiteral(": unknown key \"%1\" (known: %2)")
                                              .arg(key, known.join(QStringLiteral(", "))));
    bool bad = false;
    GradeRule rule{o.value(QStringLiteral("grade")).toString().trimmed(),
                   boundOf(o, QStringLiteral("min_soh_percent"), bad),
                   boundOf(o, QStringLiteral("max_resistance_mohm"), bad)};
    if (bad)
        return badRules(
            path,
            where + QStringLiteral(", grade %1: bounds are numbers of 0 or more").arg(rule.grade));
    return rule;
}

bool fullDischarge(const TestRecord& t, QString& why)
{
    if (!t.finished) {
        why = QStringLiteral("not finished");
        return false;
    }
    const EndReason end = t.summary.end;
    if (end == EndReason::Opp || end == EndReason::Otp || end == EndReason::LineLost) {
        why = QStringLiteral("ended by %1: not a full discharge").arg(discharge::endReasonKey(end));
        return false;
    }
    return true;
}

// The bounds of `rule` that `t` misses, as text; empty when it meets them all.
QStringList missed(const TestRecord& t, const GradeRule& rule, std::optional<double> soh)
{
    QStringList misses;
    if (rule.minSohPercent && *soh * 100 < *rule.minSohPercent)
        misses << QStringLiteral("SoH %1 % < %2 %")
                      .arg(*soh * 100, 0, 'f', 1)
                      .arg(*rule.minSohPercent);
    if (rule.maxResistanceMilliohm && t.summary.resistanceMilliohm > *rule.maxResistanceMilliohm)
        misses << QStringLiteral("%1 mOhm > %2 mOhm")
                      .arg(t.summary.resistanceMilliohm)
                      .arg(*rule.maxResistanceMilliohm);
    return misses;
}

} // namespace

QString defaultGradeRulesPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/eload-panel/grades.json");
}

Result<GradeRules> loadGradeRules(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return badRules(
            path, QStringLiteral("cannot read the grading rules (%1)").arg(file.errorString()));
    if (file.size() > kMaxRulesBytes) return badRules(path, QStringLiteral("too large"));
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return badRules(path, QStringLiteral("not JSON at character %1 (%2)")
                                  .arg(error.offset)
                                  .arg(error.errorString()));
    if (!doc.isObject())
        return badRules(path, QStringLiteral("an object of cell types is expected"));
    GradeRules rules{path, {}};
    const QJsonObject types = doc.object();
    for (auto it = types.begin(); it != types.end(); ++it) {
        if (!it.value().isArray())
            return badRules(
                path, QStringLiteral("type \"%1\": a list of rules is expected").arg(it.key()));
        QList<GradeRule>& list = rules.byType[it.key().toCaseFolded()];
        for (const QJsonValue& v : it.value().toArray()) {
            auto rule = ruleOf(path, it.key(), v);
            if (auto* f = failureOf(rule)) return *f;
            list << std::get<GradeRule>(rule);
        }
    }
    return rules;
}

Grading gradeOf(const TestRecord& t, const GradeRules& rules)
{
    const QString& type = t.header.cell.type;
    const auto found = rules.byType.constFind(type.toCaseFolded());
    if (found == rules.byType.constEnd() || found->isEmpty())
        return {{}, QStringLiteral("no rules for type \"%1\"").arg(type)};
    QString why;
    if (!fullDischarge(t, why)) return {{}, why};
    const std::optional<double> soh = stateOfHealth(t.summary, t.header.cell);
    const bool needsSoh = std::any_of(found->begin(), found->end(),
                                      [](const GradeRule& r) { return bool(r.minSohPercent); });
    const bool needsResistance = std::any_of(found->begin(), found->end(), [](const GradeRule& r) {
        return bool(r.maxResistanceMilliohm);
    });
    if (needsSoh && !soh) return {{}, QStringLiteral("no rated capacity: state of health unknown")};
    if (needsResistance && t.summary.resistanceMilliohm == 0)
        return {{}, QStringLiteral("the module reported no resistance")};
    QStringList lastMisses;
    for (const GradeRule& rule : *found) {
        lastMisses = missed(t, rule, soh);
        if (lastMisses.isEmpty()) return {rule.grade, {}};
    }
    return {kRejectGrade, QStringLiteral("below the last grade: ") + lastMisses.join(u", ")};
}

} // namespace eload::library
