// The records of tests: insert, figures, grade, list, find, remove.

#include "library/Store.h"

#include <QSqlRecord>

namespace eload::library {

namespace {

using discharge::EndReason;
using discharge::Summary;

// A null QString binds as NULL; the text columns hold "" instead.
QVariant text(const QString& v) { return v.isNull() ? QVariant(QStringLiteral("")) : QVariant(v); }

QVariant orNull(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(); }
QVariant orNull(const std::optional<int>& v) { return v ? QVariant(*v) : QVariant(); }

std::optional<double> optionalDouble(const QVariant& v)
{
    if (v.isNull()) return std::nullopt;
    return v.toDouble();
}

EndReason endReasonOfKey(const QString& key)
{
    for (EndReason r :
         {EndReason::Uvlo, EndReason::Opp, EndReason::Otp, EndReason::LoadOff, EndReason::LineLost})
        if (discharge::endReasonKey(r) == key) return r;
    return EndReason::None;
}

// One column of a record and where its value goes. `table`: what a list's
// table shows (ListDetail::Table reads only these).
struct Column {
    const char* name;
    bool table;
    void (*set)(TestRecord& r, const QVariant& v);
};

const Column kColumns[] = {
    {"id", true, [](TestRecord& r, const QVariant& v) { r.id = v.toLongLong(); }},
    {"uuid", true,
     [](TestRecord& r, const QVariant& v) { r.header.uuid = QUuid::fromString(v.toString()); }},
    {"cell_name", true,
     [](TestRecord& r, const QVariant& v) { r.header.cell.name = v.toString(); }},
    {"cell_type", true,
     [](TestRecord& r, const QVariant& v) { r.header.cell.type = v.toString(); }},
    {"rated_ah", false,
     [](TestRecord& r, const QVariant& v) { r.header.cell.ratedAh = optionalDouble(v); }},
    {"station", false, [](TestRecord& r, const QVariant& v) { r.header.station = v.toString(); }},
    {"port", false, [](TestRecord& r, const QVariant& v) { r.header.port = v.toString(); }},
    {"address", false,
     [](TestRecord& r, const QVariant& v) {
         if (!v.isNull()) r.header.address = v.toInt();
     }},
    {"preset_current_a", false,
     [](TestRecord& r, const QVariant& v) { r.header.presets.currentA = optionalDouble(v); }},
    {"preset_cutoff_v", false,
     [](TestRecord& r, const QVariant& v) { r.header.presets.cutoffV = optionalDouble(v); }},
    {"preset_power_w", false,
     [](TestRecord& r, const QVariant& v) { r.header.presets.powerW = optionalDouble(v); }},
    {"start_ms", true,
     [](TestRecord& r, const QVariant& v) {
         r.header.startMsecs = r.summary.startMsecs = v.toLongLong();
     }},
    {"end_ms", true, [](TestRecord& r, const QVariant& v) { r.summary.endMsecs = v.toLongLong(); }},
    {"start_monotonic_ms", false,
     [](TestRecord& r, const QVariant& v) { r.summary.startMonotonicMsecs = v.toLongLong(); }},
    {"end_monotonic_ms", false,
     [](TestRecord& r, const QVariant& v) { r.summary.endMonotonicMsecs = v.toLongLong(); }},
    {"finished", true, [](TestRecord& r, const QVariant& v) { r.finished = v.toInt() != 0; }},
    {"end_reason", true,
     [](TestRecord& r, const QVariant& v) { r.summary.end = endReasonOfKey(v.toString()); }},
    {"duration_s", false,
     [](TestRecord& r, const QVariant& v) { r.summary.durationSeconds = v.toDouble(); }},
    {"capacity_ah", true,
     [](TestRecord& r, const QVariant& v) { r.summary.capacityAh = v.toDouble(); }},
    {"energy_wh", false,
     [](TestRecord& r, const QVariant& v) { r.summary.energyWh = v.toDouble(); }},
    {"base_capacity_ah", false,
     [](TestRecord& r, const QVariant& v) { r.summary.baseCapacityAh = v.toDouble(); }},
    {"base_energy_wh", false,
     [](TestRecord& r, const QVariant& v) { r.summary.baseEnergyWh = v.toDouble(); }},
    {"base_s", false,
     [](TestRecord& r, const QVariant& v) { r.summary.baseSeconds = v.toDouble(); }},
    {"average_voltage_v", false,
     [](TestRecord& r, const QVariant& v) { r.summary.averageVoltage = v.toDouble(); }},
    {"lowest_voltage_v", false,
     [](TestRecord& r, const QVariant& v) { r.summary.lowestVoltage = v.toDouble(); }},
    {"average_current_a", false,
     [](TestRecord& r, const QVariant& v) { r.summary.averageCurrent = v.toDouble(); }},
    {"average_power_w", false,
     [](TestRecord& r, const QVariant& v) { r.summary.averagePower = v.toDouble(); }},
    {"highest_temperature_c", false,
     [](TestRecord& r, const QVariant& v) {
         r.summary.highestTemperatureC = std::uint16_t(v.toInt());
     }},
    {"resistance_mohm", true,
     [](TestRecord& r, const QVariant& v) {
         r.summary.resistanceMilliohm = std::uint16_t(v.toInt());
     }},
    {"counts_disagree", true,
     [](TestRecord& r, const QVariant& v) { r.summary.countsDisagree = v.toInt() != 0; }},
    {"gaps", true, [](TestRecord& r, const QVariant& v) { r.summary.gaps = v.toInt(); }},
    {"gap_s", false, [](TestRecord& r, const QVariant& v) { r.summary.gapSeconds = v.toDouble(); }},
    {"missed_polls", false,
     [](TestRecord& r, const QVariant& v) { r.summary.missedPolls = v.toInt(); }},
    {"samples", true, [](TestRecord& r, const QVariant& v) { r.summary.samples = v.toInt(); }},
    {"load_on_samples", false,
     [](TestRecord& r, const QVariant& v) { r.summary.loadOnSamples = v.toInt(); }},
    {"soh", true, [](TestRecord& r, const QVariant& v) { r.stateOfHealth = optionalDouble(v); }},
    {"grade", true, [](TestRecord& r, const QVariant& v) { r.grade = v.toString(); }},
    // The source's hash first: a test without one was not imported.
    {"source_sha256", false,
     [](TestRecord& r, const QVariant& v) {
         if (!v.isNull()) r.source = Source{{}, QByteArray::fromHex(v.toString().toLatin1()), 0};
     }},
    {"source_file", false,
     [](TestRecord& r, const QVariant& v) {
         if (r.source) r.source->file = v.toString();
     }},
    {"source_index", false,
     [](TestRecord& r, const QVariant& v) {
         if (r.source) r.source->index = v.toInt();
     }},
    {"updated_ms", true, [](TestRecord& r, const QVariant& v) { r.updatedMsecs = v.toLongLong(); }},
};

bool wanted(const Column& c, ListDetail detail) { return detail == ListDetail::Full || c.table; }

QString columnsOf(ListDetail detail)
{
    QStringList names;
    for (const Column& c : kColumns)
        if (wanted(c, detail)) names << QLatin1String(c.name);
    return names.join(QStringLiteral(", "));
}

TestRecord recordOf(const QSqlQuery& q, ListDetail detail)
{
    TestRecord r;
    int at = 0;
    for (const Column& c : kColumns)
        if (wanted(c, detail)) c.set(r, q.value(at++));
    return r;
}

Result<std::vector<TestRecord>> recordsOf(Result<QSqlQuery> q, ListDetail detail)
{
    if (auto* f = failureOf(q)) return *f;
    QSqlQuery& query = std::get<QSqlQuery>(q);
    std::vector<TestRecord> records;
    while (query.next())
        records.push_back(recordOf(query, detail));
    return records;
}

bool isGlob(const QString& text) { return text.contains(u'*') || text.contains(u'?'); }

// A glob ('*', '?') as a LIKE pattern with '\' as its escape.
QString likePattern(const QString& glob)
{
    QString like;
    for (const QChar c : glob) {
        if (c == u'*')
            like += u'%';
        else if (c == u'?')
            like += u'_';
        else if (c == u'%' || c == u'_' || c == u'\\')
            like += u'\\' + QString(c);
        else
            like += c;
    }
    return like;
}

struct Where {
    QStringList clauses;
    QVariantList values;
    QString text() const
    {
        return clauses.isEmpty() ? QString() : QStringLiteral(" WHERE ") + clauses.join(" AND ");
    }
};

Where whereOf(const TestFilter& f)
{
    Where w;
    if (!f.cell.isEmpty() && !isGlob(f.cell)) {
        w.clauses << QStringLiteral("LOWER(cell_name) = LOWER(?)"); // by the index
        w.values << f.cell;
    } else if (!f.cell.isEmpty()) {
        w.clauses << QStringLiteral("LOWER(cell_name) LIKE LOWER(?) ESCAPE '\\'");
        w.values << likePattern(f.cell);
    }
    if (!f.type.isEmpty()) {
        w.clauses << QStringLiteral("LOWER(cell_type) = LOWER(?)");
        w.values << f.type;
    }
    if (f.sinceMsecs) {
        w.clauses << QStringLiteral("start_ms >= ?");
        w.values << *f.sinceMsecs;
    }
    if (f.untilMsecs) {
        w.clauses << QStringLiteral("start_ms < ?");
        w.values << *f.untilMsecs;
    }
    if (!f.grade.isEmpty()) {
        w.clauses << QStringLiteral("grade = ?");
        w.values << f.grade;
    }
    if (!f.ids.isEmpty()) {
        QStringList marks;
        for (qint64 id : f.ids) {
            marks << QStringLiteral("?");
            w.values << id;
        }
        w.clauses << QStringLiteral("id IN (%1)").arg(marks.join(u','));
    }
    return w;
}

QString uuidText(const QUuid& uuid) { return uuid.toString(QUuid::WithoutBraces); }

} // namespace

Result<qint64> Store::ensureTest(const TestHeader& h, const std::optional<Source>& source)
{
    const QVariantList values = {
        uuidText(h.uuid),
        text(h.cell.name),
        text(h.cell.type),
        orNull(h.cell.ratedAh),
        text(h.station),
        text(h.port),
        orNull(h.address),
        orNull(h.presets.currentA),
        orNull(h.presets.cutoffV),
        orNull(h.presets.powerW),
        h.startMsecs,
        h.startMsecs,
        h.startMsecs,
        source ? QVariant(source->file) : QVariant(),
        source ? QVariant(QString::fromLatin1(source->sha256.toHex())) : QVariant(),
        source ? QVariant(source->index) : QVariant(),
    };
    if (auto f = change(
            QStringLiteral("INSERT INTO tests (uuid, cell_name, cell_type, rated_ah, station, port,"
                           " address, preset_current_a, preset_cutoff_v, preset_power_w, start_ms,"
                           " end_ms, updated_ms, source_file, source_sha256, source_index)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                           " ON CONFLICT (uuid) DO NOTHING"),
            values))
        return *f;
    auto id = scalar(QStringLiteral("SELECT id FROM tests WHERE uuid = ?"), {uuidText(h.uuid)});
    if (auto* f = failureOf(id)) return *f;
    if (std::get<QVariant>(id).isNull())
        return named(Failure{QStringLiteral("test %1 vanished").arg(h.uuid.toString())});
    return std::get<QVariant>(id).toLongLong();
}

std::optional<Failure> Store::storeFigures(qint64 id, const Summary& s, bool finished,
                                           std::optional<double> soh, qint64 nowMsecs)
{
    const bool timed = s.samples > 0;
    const QVariantList values = {timed,
                                 s.startMsecs,
                                 timed,
                                 s.endMsecs,
                                 s.startMonotonicMsecs,
                                 s.endMonotonicMsecs,
                                 finished ? 1 : 0,
                                 text(discharge::endReasonKey(s.end)),
                                 s.durationSeconds,
                                 s.capacityAh,
                                 s.energyWh,
                                 s.baseCapacityAh,
                                 s.baseEnergyWh,
                                 s.baseSeconds,
                                 s.averageVoltage,
                                 s.lowestVoltage,
                                 s.averageCurrent,
                                 s.averagePower,
                                 int(s.highestTemperatureC),
                                 int(s.resistanceMilliohm),
                                 s.countsDisagree ? 1 : 0,
                                 s.gaps,
                                 s.gapSeconds,
                                 s.missedPolls,
                                 s.samples,
                                 s.loadOnSamples,
                                 orNull(soh),
                                 nowMsecs,
                                 id,
                                 s.samples};
    return change(
        QStringLiteral(
            "UPDATE tests SET start_ms = CASE WHEN ? THEN ? ELSE start_ms END,"
            " end_ms = CASE WHEN ? THEN ? ELSE end_ms END,"
            " start_monotonic_ms = ?, end_monotonic_ms = ?, finished = ?, end_reason = ?,"
            " duration_s = ?, capacity_ah = ?, energy_wh = ?, base_capacity_ah = ?,"
            " base_energy_wh = ?, base_s = ?, average_voltage_v = ?, lowest_voltage_v = ?,"
            " average_current_a = ?, average_power_w = ?, highest_temperature_c = ?,"
            " resistance_mohm = ?, counts_disagree = ?, gaps = ?, gap_s = ?, missed_polls = ?,"
            " samples = ?, load_on_samples = ?, soh = ?, updated_ms = ?"
            " WHERE id = ? AND finished = 0 AND samples <= ?"),
        values);
}

std::optional<Failure> Store::touch(qint64 id, qint64 nowMsecs)
{
    return change(QStringLiteral("UPDATE tests SET updated_ms = ? WHERE id = ?"), {nowMsecs, id});
}

std::optional<Failure> Store::storeGrade(qint64 id, const QString& grade)
{
    return change(QStringLiteral("UPDATE tests SET grade = ? WHERE id = ?"),
                  {grade.isEmpty() ? QVariant() : QVariant(grade), id});
}

Result<bool> Store::storeCell(const QUuid& test, const Cell& cell)
{
    auto capacity =
        scalar(QStringLiteral("SELECT capacity_ah FROM tests WHERE uuid = ?"), {uuidText(test)});
    if (auto* f = failureOf(capacity)) return *f;
    const QVariant known = std::get<QVariant>(capacity);
    if (known.isNull()) return false;
    Summary figures;
    figures.capacityAh = known.toDouble();
    if (auto f =
            change(QStringLiteral("UPDATE tests SET cell_name = ?, cell_type = ?, rated_ah = ?,"
                                  " soh = ? WHERE uuid = ?"),
                   {text(cell.name), text(cell.type), orNull(cell.ratedAh),
                    orNull(stateOfHealth(figures, cell)), uuidText(test)}))
        return *f;
    return true;
}

Result<std::vector<TestRecord>> Store::list(const TestFilter& filter, ListDetail detail)
{
    const Where w = whereOf(filter);
    return named(recordsOf(run(db_,
                               QStringLiteral("SELECT %1 FROM tests%2 ORDER BY start_ms, id")
                                   .arg(columnsOf(detail), w.text()),
                               w.values),
                           detail));
}

Result<std::optional<TestRecord>> Store::byId(qint64 id)
{
    auto records = list(TestFilter{{}, {}, {}, {}, {}, {id}});
    if (auto* f = failureOf(records)) return *f;
    auto& all = std::get<std::vector<TestRecord>>(records);
    if (all.empty()) return std::optional<TestRecord>();
    return std::optional<TestRecord>(all.front());
}

Result<std::optional<TestRecord>> Store::find(const QString& idOrUuid)
{
    bool isNumber = false;
    const qint64 id = idOrUuid.toLongLong(&isNumber);
    if (isNumber) return byId(id);
    const QUuid uuid = QUuid::fromString(idOrUuid);
    if (uuid.isNull())
        return Failure{QStringLiteral("%1 is no test ID (a number or a UUID)").arg(idOrUuid)};
    auto q = run(db_, QStringLiteral("SELECT id FROM tests WHERE uuid = ?"), {uuidText(uuid)});
    if (auto* f = failureOf(q)) return named(*f);
    QSqlQuery& query = std::get<QSqlQuery>(q);
    if (!query.next()) return std::optional<TestRecord>();
    return byId(query.value(0).toLongLong());
}

Result<QList<qint64>> Store::importedAs(const QByteArray& sha256)
{
    auto q = run(db_, QStringLiteral("SELECT id FROM tests WHERE source_sha256 = ? ORDER BY id"),
                 {QString::fromLatin1(sha256.toHex())});
    if (auto* f = failureOf(q)) return named(*f);
    QSqlQuery& query = std::get<QSqlQuery>(q);
    QList<qint64> ids;
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}

Result<bool> Store::remove(qint64 id)
{
    if (auto f = exec(db_, QStringLiteral("DELETE FROM curve_chunks WHERE test_id = ?"), {id}))
        return named(*f);
    auto q = run(db_, QStringLiteral("DELETE FROM tests WHERE id = ?"), {id});
    if (auto* f = failureOf(q)) return named(*f);
    return std::get<QSqlQuery>(q).numRowsAffected() > 0;
}

} // namespace eload::library
