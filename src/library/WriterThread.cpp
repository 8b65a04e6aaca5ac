#include "library/WriterThread.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMutexLocker>

namespace eload::library {

namespace {

SpoolRecord cellRecord(const QUuid& test, const Cell& cell)
{
    SpoolRecord r;
    r.kind = SpoolRecord::Kind::Cell;
    r.test = test;
    r.cell = cell;
    return r;
}

// A live curve is compacted into blocks after this many samples (four
// minutes at two replies a second), and when its test finishes.
constexpr int kCompactAfter = 512;

qint64 wallMsecs() { return QDateTime::currentMSecsSinceEpoch(); }

} // namespace

WriterThread::WriterThread(WriterOptions options, std::shared_ptr<WriterShared> shared)
    : options_(std::move(options)), shared_(std::move(shared))
{
    spool_.setFolder(options_.spoolFolder);
}

WriterThread::~WriterThread()
{
    if (thread_.joinable()) thread_.join();
}

void WriterThread::start() { thread_ = std::thread(&WriterThread::run, this); }

bool WriterThread::waitEnded(QDeadlineTimer deadline)
{
    QMutexLocker lock(&shared_->mutex);
    while (!shared_->ended)
        if (!shared_->wake.wait(&shared_->mutex, deadline)) return shared_->ended;
    return true;
}

void WriterThread::abandon()
{
    if (thread_.joinable()) thread_.detach();
}

void WriterThread::run()
{
    clock_.start();
    recover();
    for (;;) {
        bool stopping = false;
        absorb(takeInbox(stopping));
        flush(stopping);
        if (stopping) break;
    }
    store_.reset();
    spool_.close();
    QMutexLocker lock(&shared_->mutex);
    shared_->durable = !anythingPending();
    shared_->ended = true;
    shared_->wake.wakeAll();
}

Inbox WriterThread::takeInbox(bool& stopping)
{
    QMutexLocker lock(&shared_->mutex);
    if (!shared_->stopping) shared_->wake.wait(&shared_->mutex, QDeadlineTimer(options_.flushMs));
    stopping = shared_->stopping;
    Inbox inbox;
    std::swap(inbox, shared_->inbox);
    return inbox;
}

void WriterThread::absorb(Inbox inbox)
{
    for (TestHeader& h : inbox.begun) {
        LiveTest t;
        t.header = std::move(h);
        tests_.try_emplace(t.header.uuid, std::move(t));
    }
    for (auto& [uuid, samples] : inbox.samples)
        if (auto t = tests_.find(uuid); t != tests_.end())
            t->second.pending.insert(t->second.pending.end(), samples.begin(), samples.end());
    for (auto& [uuid, figures] : inbox.figures)
        if (auto t = tests_.find(uuid); t != tests_.end()) {
            t->second.figures = figures;
            t->second.figuresPending = true;
        }
    for (const QUuid& uuid : inbox.finished)
        if (auto t = tests_.find(uuid); t != tests_.end()) t->second.finished = true;
    for (auto& [uuid, cell] : inbox.cells) {
        const auto t = tests_.find(uuid);
        if (t == tests_.end()) {
            laterCells_[uuid] = cell;
            continue;
        }
        t->second.header.cell = cell;
        t->second.cellPending = true;
    }
    publishHeld();
}

// Straight to the database while it takes them and nothing waits in the
// spool; else to the spool, in order, and the database tried again now and
// then. Stopping, the spool first: what is queued is safe on the disk even
// when the database then does not answer in time.
void WriterThread::flush(bool stopping)
{
    if (!stopping && store_ && !spoolInUse() && writeDirect()) return;
    if (anythingPending()) spoolPending();
    const bool due = stopping || clock_.elapsed() - lastAttemptMs_ >= options_.retryMs;
    if (due && (spoolInUse() || anythingPending() || !store_)) recover();
}

bool WriterThread::connectStore()
{
    auto opened = Store::open(options_.location);
    if (auto* f = failureOf(opened)) {
        databaseTrouble(*f);
        return false;
    }
    store_ = std::move(std::get<std::unique_ptr<Store>>(opened));
    return true;
}

bool WriterThread::writeDirect()
{
    if (!anythingPending()) return true;
    if (auto f = store_->beginWrite()) {
        dropStore(*f);
        return false;
    }
    const qint64 now = wallMsecs();
    for (auto& [uuid, t] : tests_) {
        if (!t.hasPending()) continue;
        if (auto f = writeTest(t, now)) {
            store_->rollback();
            dropStore(*f);
            return false;
        }
    }
    if (auto f = writeLaterCells()) {
        store_->rollback();
        dropStore(*f);
        return false;
    }
    if (auto f = store_->commit()) {
        dropStore(*f);
        return false;
    }
    afterCommit();
    return true;
}

std::optional<Failure> WriterThread::writeTest(LiveTest& t, qint64 now)
{
    if (t.id == 0) {
        auto id = store_->ensureTest(t.header);
        if (auto* f = failureOf(id)) return *f;
        t.id = std::get<qint64>(id);
    }
    if (!t.pending.empty()) {
        auto end = store_->appendSamples(t.id, t.durableEnd, t.pending);
        if (auto* f = failureOf(end)) return *f;
    }
    if (t.cellPending) {
        const auto named = store_->storeCell(t.header.uuid, t.header.cell);
        if (auto* f = failureOf(named)) return *f;
    }
    if (t.figuresPending)
        return store_->storeFigures(t.id, *t.figures, t.finished,
                                    stateOfHealth(*t.figures, t.header.cell), now);
    if (!t.pending.empty()) return store_->touch(t.id, now);
    return std::nullopt;
}

// A test unknown to the database changes nothing: there is no record to name.
std::optional<Failure> WriterThread::writeLaterCells()
{
    for (const auto& [uuid, cell] : laterCells_) {
        const auto named = store_->storeCell(uuid, cell);
        if (auto* f = failureOf(named)) return *f;
    }
    return std::nullopt;
}

void WriterThread::afterCommit()
{
    laterCells_.clear();
    for (auto& [uuid, t] : tests_) {
        t.durableEnd += qint64(t.pending.size());
        t.sinceCompaction += int(t.pending.size());
        t.pending.clear();
        t.figuresPending = false;
        t.cellPending = false;
        t.headerStored = true;
    }
    publishHeld();
    compactDue();
    QList<QUuid> finished;
    for (const auto& [uuid, t] : tests_)
        if (t.finished) finished << uuid;
    forgetStored(finished);
}

// Best effort: a curve not compacted is whole, only bigger.
void WriterThread::compactDue()
{
    for (auto& [uuid, t] : tests_) {
        if (t.id == 0 || (t.sinceCompaction < kCompactAfter && !t.finished)) continue;
        if (!failureOf(store_->compactCurve(t.id))) t.sinceCompaction = 0;
    }
}

std::vector<SpoolRecord> WriterThread::spoolRecordsOf(const QUuid& uuid, const LiveTest& t) const
{
    std::vector<SpoolRecord> records;
    if (!t.headerInSpool) {
        SpoolRecord r;
        r.kind = SpoolRecord::Kind::Header;
        r.test = uuid;
        r.header = t.header;
        records.push_back(std::move(r));
    }
    if (!t.pending.empty()) {
        SpoolRecord r;
        r.kind = SpoolRecord::Kind::Samples;
        r.test = uuid;
        r.firstIndex = t.durableEnd;
        r.samples = t.pending;
        records.push_back(std::move(r));
    }
    if (t.cellPending) records.push_back(cellRecord(uuid, t.header.cell));
    if (t.figuresPending) {
        SpoolRecord r;
        r.kind = SpoolRecord::Kind::Figures;
        r.test = uuid;
        r.summary = *t.figures;
        r.finished = t.finished;
        records.push_back(std::move(r));
    }
    return records;
}

bool WriterThread::spoolPending()
{
    std::vector<SpoolRecord> records;
    for (const auto& [uuid, t] : tests_)
        if (t.hasPending()) {
            auto some = spoolRecordsOf(uuid, t);
            std::move(some.begin(), some.end(), std::back_inserter(records));
        }
    for (const auto& [uuid, cell] : laterCells_)
        records.push_back(cellRecord(uuid, cell));
    if (records.empty()) return true;
    if (auto f = spool_.append(records)) {
        spoolTrouble(*f);
        return false;
    }
    laterCells_.clear();
    for (auto& [uuid, t] : tests_) {
        if (!t.hasPending()) continue;
        t.headerInSpool = t.inSpool = true;
        t.durableEnd += qint64(t.pending.size());
        spooledReplies_ += qint64(t.pending.size());
        t.pending.clear();
        t.figuresPending = t.cellPending = false;
    }
    publishSpooling(true);
    publishHeld();
    return true;
}

// The database again: the spool files of writers gone, then this one's, then
// what memory holds.
bool WriterThread::recover()
{
    lastAttemptMs_ = clock_.elapsed();
    if (!store_ && !connectStore()) return false;
    const auto leftovers = replayLeftovers(*store_, spool_.folder(), wallMsecs());
    if (auto* f = failureOf(leftovers)) {
        dropStore(*f);
        return false;
    }
    if (!replaySpool() || !writeDirect()) return false;
    endTrouble();
    return true;
}

bool WriterThread::replaySpool()
{
    if (spool_.isEmpty()) return true;
    auto contents = readSpoolFile(spool_.path());
    if (auto* f = failureOf(contents)) {
        spoolTrouble(*f);
        return false;
    }
    auto replayed = replayRecords(*store_, std::get<SpoolContents>(contents).records, wallMsecs());
    if (auto* f = failureOf(replayed)) {
        dropStore(*f);
        return false;
    }
    // Replayed but not emptied: the file is left to be replayed again (no
    // harm: nothing is stored twice) and the next append starts another.
    if (spool_.clear()) spool_.close();
    for (auto& [uuid, t] : tests_) {
        if (t.inSpool) t.headerStored = true;
        t.inSpool = t.headerInSpool = false;
        t.id = 0;
    }
    forgetStored(std::get<Replayed>(replayed).finished);
    return true;
}

void WriterThread::dropStore(const Failure& why)
{
    store_.reset();
    lastAttemptMs_ = clock_.elapsed();
    for (auto& [uuid, t] : tests_)
        t.id = 0;
    databaseTrouble(why);
}

void WriterThread::databaseTrouble(const Failure& why)
{
    publishSpooling(true);
    if (databaseTold_) return;
    databaseTold_ = true;
    Q_EMIT problemFound(QStringLiteral("%1. Replies go to the spool in %2 and reach the database "
                                       "once it answers again (tried every %3 s).")
                            .arg(why.message, spool_.folder())
                            .arg(options_.retryMs / 1000.0));
}

void WriterThread::spoolTrouble(const Failure& why)
{
    if (spoolTold_) return;
    spoolTold_ = true;
    Q_EMIT problemFound(QStringLiteral("%1. %2 replies are held in memory until the database or "
                                       "the spool takes them.")
                            .arg(why.message)
                            .arg(heldReplies()));
}

void WriterThread::endTrouble()
{
    publishSpooling(false);
    if (!databaseTold_ && !spoolTold_) return;
    Q_EMIT troubleEnded(QStringLiteral("%1 takes replies again; the %2 held or spooled meanwhile "
                                       "are stored.")
                            .arg(options_.location.displayText())
                            .arg(spooledReplies_ + heldReplies()));
    databaseTold_ = spoolTold_ = false;
    spooledReplies_ = 0;
}

void WriterThread::forgetStored(const QList<QUuid>& finished)
{
    for (const QUuid& uuid : finished) {
        const auto t = tests_.find(uuid);
        if (t == tests_.end() || !t->second.finished || t->second.hasPending() || t->second.inSpool)
            continue;
        tests_.erase(t);
        Q_EMIT testStored(uuid);
    }
}

void WriterThread::publishHeld()
{
    const qsizetype held = heldReplies();
    QMutexLocker lock(&shared_->mutex);
    shared_->held = held;
}

void WriterThread::publishSpooling(bool spooling)
{
    QMutexLocker lock(&shared_->mutex);
    shared_->spooling = spooling;
}

qsizetype WriterThread::heldReplies() const
{
    qsizetype held = 0;
    for (const auto& [uuid, t] : tests_)
        held += qsizetype(t.pending.size());
    return held;
}

bool WriterThread::anythingPending() const
{
    return !laterCells_.empty() || std::any_of(tests_.begin(), tests_.end(), [](const auto& entry) {
        return entry.second.hasPending();
    });
}

bool WriterThread::spoolInUse() const { return !spool_.isEmpty(); }

} // namespace eload::library
