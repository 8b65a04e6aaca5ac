// The curves of tests: chunks of samples, compacted into blocks.

#include "library/CurveCodec.h"
#include "library/Store.h"

#include <algorithm>

namespace eload::library {

namespace {

// A live chunk of a few samples is written every second and merged soon:
// not worth zlib's setting up. Blocks stay for years: small. A block still
// filling is packed in between.
constexpr int kChunkLevel = 0;
constexpr std::size_t kSmallChunk = 64;
constexpr int kPartialLevel = 6;
constexpr int kBlockLevel = 9;

struct StoredChunk {
    qint64 first = 0;
    int samples = 0;
    QByteArray data;
    qint64 end() const { return first + samples; }
};

Result<std::vector<StoredChunk>> smallChunks(QSqlDatabase& db, qint64 id)
{
    auto q = run(db,
                 QStringLiteral("SELECT first_index, samples, data FROM curve_chunks"
                                " WHERE test_id = ? AND samples < ? ORDER BY first_index"),
                 {id, kBlockSamples});
    if (auto* f = failureOf(q)) return *f;
    QSqlQuery& query = std::get<QSqlQuery>(q);
    std::vector<StoredChunk> chunks;
    while (query.next())
        chunks.push_back(
            {query.value(0).toLongLong(), query.value(1).toInt(), query.value(2).toByteArray()});
    return chunks;
}

// Consecutive chunks [begin, end) whose samples follow on without a hole.
std::vector<std::pair<std::size_t, std::size_t>> runsOf(const std::vector<StoredChunk>& chunks)
{
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= chunks.size(); ++i) {
        if (i < chunks.size() && chunks[i].first == chunks[i - 1].end()) continue;
        if (i - begin >= 2) runs.emplace_back(begin, i);
        begin = i;
    }
    return runs;
}

Result<std::vector<Sample>> samplesOf(qint64 id, std::span<const StoredChunk> run)
{
    std::vector<Sample> samples;
    for (const StoredChunk& c : run)
        if (auto f = decodeSamples(c.data, samples))
            return Failure{QStringLiteral("test %1, samples from %2: %3")
                               .arg(id)
                               .arg(c.first)
                               .arg(f->message)};
    return samples;
}

} // namespace

Result<qint64> Store::storedSamples(qint64 id)
{
    auto end = scalar(QStringLiteral("SELECT COALESCE(MAX(first_index + samples), 0)"
                                     " FROM curve_chunks WHERE test_id = ?"),
                      {id});
    if (auto* f = failureOf(end)) return *f;
    return std::get<QVariant>(end).toLongLong();
}

std::optional<Failure> Store::insertChunks(qint64 id, qint64 first, std::span<const Sample> samples,
                                           int level)
{
    for (std::size_t at = 0; at < samples.size(); at += kBlockSamples) {
        const auto part =
            samples.subspan(at, std::min<std::size_t>(kBlockSamples, samples.size() - at));
        if (auto f =
                change(QStringLiteral("INSERT INTO curve_chunks (test_id, first_index,"
                                      " samples, data) VALUES (?, ?, ?, ?)"),
                       {id, first + qint64(at), int(part.size()),
                        encodeSamples(part, part.size() == kBlockSamples ? kBlockLevel : level)}))
            return f;
    }
    return std::nullopt;
}

Result<qint64> Store::appendSamples(qint64 id, qint64 firstIndex, std::span<const Sample> samples)
{
    auto stored = storedSamples(id);
    if (failureOf(stored)) return stored;
    const qint64 end = std::get<qint64>(stored);
    const qint64 known = std::clamp<qint64>(end - firstIndex, 0, qint64(samples.size()));
    const auto fresh = samples.subspan(std::size_t(known));
    if (fresh.empty()) return end;
    const int level = fresh.size() < kSmallChunk ? kChunkLevel : kPartialLevel;
    if (auto f = insertChunks(id, firstIndex + known, fresh, level)) return *f;
    return firstIndex + qint64(samples.size());
}

Result<int> Store::compactCurve(qint64 id)
{
    if (auto f = beginWrite()) return *f;
    auto chunks = smallChunks(db_, id);
    if (auto* f = failureOf(chunks)) {
        rollback();
        return named(*f);
    }
    const auto& all = std::get<std::vector<StoredChunk>>(chunks);
    int merged = 0;
    for (const auto& [begin, end] : runsOf(all)) {
        const auto run = std::span(all).subspan(begin, end - begin);
        auto samples = samplesOf(id, run);
        std::optional<Failure> f =
            failureOf(samples) ? std::optional(named(*failureOf(samples))) : std::nullopt;
        if (!f)
            f = named(exec(
                db_,
                QStringLiteral("DELETE FROM curve_chunks WHERE test_id = ? AND first_index >= ?"
                               " AND first_index < ? AND samples < ?"),
                {id, run.front().first, run.back().end(), kBlockSamples}));
        if (!f)
            f = insertChunks(id, run.front().first, std::get<std::vector<Sample>>(samples),
                             kPartialLevel);
        if (f) {
            rollback();
            return *f;
        }
        merged += int(end - begin);
    }
    if (auto f = commit()) return *f;
    return merged;
}

Result<std::vector<Sample>> Store::curve(qint64 id)
{
    auto q = run(db_,
                 QStringLiteral("SELECT first_index, data FROM curve_chunks WHERE test_id = ?"
                                " ORDER BY first_index"),
                 {id});
    if (auto* f = failureOf(q)) return named(*f);
    QSqlQuery& query = std::get<QSqlQuery>(q);
    std::vector<Sample> samples;
    while (query.next())
        if (auto f = decodeSamples(query.value(1).toByteArray(), samples))
            return named(Failure{QStringLiteral("test %1, samples from %2: %3")
                                     .arg(id)
                                     .arg(query.value(0).toLongLong())
                                     .arg(f->message)});
    return samples;
}

Result<qint64> Store::curveBytes(qint64 id)
{
    auto q = run(db_,
                 QStringLiteral("SELECT COALESCE(SUM(LENGTH(data)), 0) FROM curve_chunks"
                                " WHERE test_id = ?"),
                 {id});
    if (auto* f = failureOf(q)) return named(*f);
    QSqlQuery& query = std::get<QSqlQuery>(q);
    return query.next() ? query.value(0).toLongLong() : 0;
}

} // namespace eload::library
