// The records of tests: insert, figures, grade, list, find, remove.

#include "library/Store.h"

#include <QSqlRecord>

namespace eload::library {

namespace {

using discharge::EndReason;
using discharge::Summary;

// The columns a record is read from, in the order recordOf takes them.
const QString kRecordColumns = QStringLiteral(
    "id, uuid, cell_name, cell_type, rated_ah, station, port, address, preset_current_a,"
    " preset_cutoff_v, preset_power_w, start_ms, end_ms, start_monotonic_ms, end_monotonic_ms,"
    " finished, end_reason, duration_s, capacity_ah, energy_wh, base_capacity_ah,"
    " base_energy_wh, base_s, average_voltage_v, lowest_voltage_v, average_current_a,"
    " average_power_w, highest_temperature_c, resistance_mohm, counts_disagree, gaps, gap_s,"
    " missed_polls, samples, load_on_samples, soh, grade, source_file, source_sha256,"
    " source_index, updated_ms");

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

// Reads the columns of kRecordColumns in order.
class Columns {
public:
    explicit Columns(const QSqlQuery& q) : q_(q) {}
    QVariant next() { return q_.value(at_++); }

private:
    const QSqlQuery& q_;
    int at_ = 0;
};

TestRecord recordOf(const QSqlQuery& q)
{
    Columns c(q);
    TestRecord r;
    TestHeader& h = r.header;
    Summary& s = r.summary;
    r.id = c.next().toLongLong();
    h.uuid = QUuid::fromString(c.next().toString());
    h.cell.name = c.next().toString();
    h.cell.type = c.next().toString();
    h.cell.ratedAh = optionalDouble(c.next());
    h.station = c.next().toString();
    h.port = c.next().toString();
    const QVariant address = c.next();
    if (!address.isNull()) h.address = address.toInt();
    h.presets.currentA = optionalDouble(c.next());
    h.presets.cutoffV = optionalDouble(c.next());
    h.presets.powerW = optionalDouble(c.next());
    h.startMsecs = s.startMsecs = c.next().toLongLong();
    s.endMsecs = c.next().toLongLong();
    s.startMonotonicMsecs = c.next().toLongLong();
    s.endMonotonicMsecs = c.next().toLongLong();
    r.finished = c.next().toInt() != 0;
    s.end = endReasonOfKey(c.next().toString());
    s.durationSeconds = c.next().toDouble();
    s.capacityAh = c.next().toDouble();
    s.energyWh = c.next().toDouble();
    s.baseCapacityAh = c.next().toDouble();
    s.baseEnergyWh = c.next().toDouble();
    s.baseSeconds = c.next().toDouble();
    s.averageVoltage = c.next().toDouble();
    s.lowestVoltage = c.next().toDouble();
    s.averageCurrent = c.next().toDouble();
    s.averagePower = c.next().toDouble();
    s.highestTemperatureC = std::uint16_t(c.next().toInt());
    s.resistanceMilliohm = std::uint16_t(c.next().toInt());
    s.countsDisagree = c.next().toInt() != 0;
    s.gaps = c.next().toInt();
    s.gapSeconds = c.next().toDouble();
    s.missedPolls = c.next().toInt();
    s.samples = c.next().toInt();
    s.loadOnSamples = c.next().toInt();
    r.stateOfHealth = optionalDouble(c.next());
    r.grade = c.next().toString();
    const QVariant file = c.next(), sha = c.next(), index = c.next();
    if (!sha.isNull())
        r.source =
            Source{file.toString(), QByteArray::fromHex(sha.toString().toLatin1()), index.toInt()};
    r.updatedMsecs = c.next().toLongLong();
    return r;
}

Result<std::vector<TestRecord>> recordsOf(Result<QSqlQuery> q)
{
    if (auto* f = failureOf(q)) return *f;
    QSqlQuery& query = std::get<QSqlQuery>(q);
    std::vector<TestRecord> records;
    while (query.next())
        records.push_back(recordOf(query));
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

Result<std::vector<TestRecord>> Store::list(const TestFilter& filter)
{
    const Where w = whereOf(filter);
    return named(recordsOf(run(db_,
                               QStringLiteral("SELECT %1 FROM tests%2 ORDER BY start_ms, id")
                                   .arg(kRecordColumns, w.text()),
                               w.values)));
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
