#include "cli/Watch.h"

#include "cli/Console.h"
#include "cli/Pacing.h"
#include "recording/RowJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace eload::cli {

namespace {

using modbus::Reading;
using std::chrono::milliseconds;

constexpr int kSilentPollEvery = 4; // intervals
// A silence of this many polls shows in the model as a gap; this many in a
// row, and --lost-after long, ends the test as line-lost.
constexpr int kGapPolls = 2;
constexpr int kLostPolls = 3;
// Reopening a lost port: the first try soon, then less often.
constexpr milliseconds kFirstReopen{250};
constexpr milliseconds kLongestReopen{5000};
// A timer is never armed for longer than this (a QTimer takes an int of
// milliseconds); a later deadline is reached in steps.
constexpr milliseconds kLongestWait{3600 * 1000};
// Line-bound, how many polls may wait on the worker's queue behind the one on
// the line: enough that a busy machine holding this thread up for a poll's
// time or two does not leave the line idle, few enough that an end's
// switch-off follows within a few polls.
constexpr int kPollsQueued = 2;
// How often the end asks whether the test library's writer has finished.
constexpr milliseconds kWriterTick{50};

const TestEnd kSignalEnd{{}, QStringLiteral("signal"), QStringLiteral("a signal")};
const TestEnd kTimeEnd{{}, QStringLiteral("stop-after"), QStringLiteral("--stop-after")};
const TestEnd kUnfinished{{}, QStringLiteral("not-started"), QStringLiteral("the start failing")};

QString xlsxName(const QString& file)
{
    return file.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)
               ? file
               : file + QStringLiteral(".xlsx");
}

double msecsOf(Watch::Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

QString secondsText(Watch::Clock::duration d)
{
    return QString::number(std::chrono::duration<double>(d).count(), 'f', 1);
}

// The worker thread takes the mask of the thread that starts it: signals are
// for the event thread, whose notifier turns them into an orderly end.
void startWithoutSignals(QThread& thread)
{
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    thread.start();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

Watch::Watch(Invocation inv, std::unique_ptr<Bus> bus,
             std::optional<library::DatabaseLocation> library)
    : inv_(std::move(inv)), out_(STDOUT_FILENO), err_(STDERR_FILENO),
      worker_(new LineWorker(std::move(bus))), wanted_(inv_.interval), interval_(inv_.interval)
{
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &LineWorker::performed, this, &Watch::onPerformed);
    wakeTimer_.setSingleShot(true);
    wakeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&wakeTimer_, &QTimer::timeout, this, &Watch::pump);
    const discharge::TestModel::Silence silence{kLostPolls, qint64(inv_.lostAfter.count()),
                                                kGapPolls};
    for (std::uint8_t a : inv_.addresses)
        tests_.push_back(std::make_unique<ModuleTest>(a, silence));
    const std::size_t n = tests_.size();
    tallies_.resize(n);
    due_.resize(n, Clock::now());
    probes_.resize(n);
    switchOnSent_.resize(n, 0);
    offPending_.resize(n, 0);
    writerTimer_.setInterval(kWriterTick);
    connect(&writerTimer_, &QTimer::timeout, this, &Watch::awaitWriter);
    if (library) startRecording(*library);
}

// The writer's thread connects (and makes a SQLite file) while the first
// polls go out; trouble with the database is told on stderr and never holds
// a poll up.
void Watch::startRecording(const library::DatabaseLocation& location)
{
    library::WriterOptions options;
    options.location = location;
    writer_ = std::make_unique<library::TestWriter>(std::move(options));
    place_.library = location.displayText();
    place_.spool = library::defaultSpoolFolder(location);
    connect(writer_.get(), &library::TestWriter::problem, this,
            [this](const QString& m) { say(QStringLiteral("test library: %1").arg(m)); });
    connect(writer_.get(), &library::TestWriter::recovered, this,
            [this](const QString& m) { say(QStringLiteral("test library: %1").arg(m)); });
    connect(writer_.get(), &library::TestWriter::stored, this,
            [this](const QUuid& test) { place_.stored.insert(test); });
    const QStringList cells = std::get<QStringList>(cellNamesFor(inv_));
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        library::TestHeader header;
        header.cell = {cells[qsizetype(i)], inv_.cellType, inv_.ratedAh};
        header.station = QSysInfo::machineHostName();
        header.port = inv_.port;
        header.address = inv_.addresses[i];
        tests_[i]->record(std::make_unique<ModuleRecord>(*writer_, std::move(header)));
    }
}

Watch::~Watch()
{
    thread_.quit();
    thread_.wait();
}

QString Watch::workbookFolder(const QString& xlsxFile)
{
    const QFileInfo file(xlsxFile);
    if (file.isDir()) return QDir::cleanPath(file.absoluteFilePath());
    return QFileInfo(xlsxName(xlsxFile)).absolutePath();
}

std::optional<QString> Watch::refusedFile(const Invocation& inv)
{
    const bool several = inv.addresses.size() > 1;
    const bool folder = !inv.xlsxFile.isEmpty() && QFileInfo(inv.xlsxFile).isDir();
    for (std::uint8_t a : inv.addresses) {
        const QString xlsx = folder ? QString() : fileForModule(inv.xlsxFile, a, several);
        for (const QString& path :
             {fileForModule(inv.csvFile, a, several), xlsx.isEmpty() ? xlsx : xlsxName(xlsx)})
            if (!path.isEmpty() && QFileInfo::exists(path))
                return QStringLiteral("%1 exists already; choose another name").arg(path);
        if (xlsx.isEmpty()) continue;
        // Journals left by a crash were made into workbooks before this check;
        // one still there is a recording running elsewhere, or one that failed.
        const QFileInfo book(xlsxName(xlsx));
        const QString journal =
            book.dir().filePath(RowJournal::fileNameFor(book.completeBaseName()));
        if (QFileInfo::exists(journal))
            return QStringLiteral("%1: its journal %2 is still there (another program records "
                                  "it, or it could not be made into a workbook); choose another "
                                  "name")
                .arg(book.filePath(), journal);
    }
    return std::nullopt;
}

void Watch::start()
{
    startWithoutSignals(thread_);
    for (std::uint8_t a : inv_.addresses)
        urgent_.push_back({a, Job::Kind::Read});
    pump();
}

void Watch::stop()
{
    if (stopping_) return hurry();
    stopping_ = true;
    if (probing_) {
        // Nothing was switched or opened yet: the tests end where they are.
        probing_ = false;
        urgent_.clear();
        for (std::size_t i = 0; i < tests_.size(); ++i) {
            tests_[i]->beginEnd(kSignalEnd);
            finishTest(i, std::nullopt, false);
        }
        return pump();
    }
    cancelSwitchOns();
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        if (tests_[i]->state() != ModuleTest::State::Running) continue;
        if (inv_.loadOn && switchOnSent_[i]) {
            endTest(i, kSignalEnd);
        } else {
            tests_[i]->beginEnd(kSignalEnd);
            const auto& last = tests_[i]->last();
            finishTest(i, last ? std::optional<bool>(last->loadOn) : std::nullopt, false);
        }
    }
    pump();
}

// A switch-on not yet on the line is not sent after a stop.
void Watch::cancelSwitchOns()
{
    std::erase_if(urgent_, [](const Job& j) { return j.kind == Job::Kind::SwitchOn; });
}

void Watch::hurry()
{
    if (hurrying_) return;
    hurrying_ = true;
    hurryUntil_ = Clock::now() + kHurry;
    worker_->hurry();
    armWake(hurryUntil_);
    say(QStringLiteral("a second signal: the loads are switched off within a second, or left "
                       "as they are"));
    pump();
}

void Watch::post(const Job& job)
{
    ++inFlight_;
    lastPosted_ = job.kind;
    if (job.kind == Job::Kind::SwitchOn) switchOnSent_[indexOf(job.address)] = 1;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, job] { w->perform(job); }, Qt::QueuedConnection);
}

// Ends first, then the polls as they fall due; one job on the line at a
// time, and, while the line sets the pace, the next poll queued behind it.
void Watch::pump()
{
    if (done_) return;
    const auto now = Clock::now();
    // Whoever read the values has gone: end as on a signal, not in the middle.
    if (out_.readerGone() && !stopping_) return stop();
    if (hurrying_ && now >= hurryUntil_) return abandon();
    if (stopAt_ && now >= *stopAt_) {
        stopAt_.reset();
        endRunning(kTimeEnd);
    }
    if (inFlight_ > 0) {
        if (mayQueuePoll()) pollNext(now);
        return;
    }
    // Before the urgent jobs: a test this ends wants its switch-off now.
    if (!lineUp_ && !probing_) countUnsentPolls(now);
    if (!urgent_.empty()) {
        post(urgent_.front());
        urgent_.pop_front();
        return;
    }
    if (probing_) return;
    if (!anyRunning()) {
        finishUnreachable();
        if (!urgent_.empty()) return pump();
        if (allEnded()) done();
        return;
    }
    if (!lineUp_) return awaitLine(now);
    pollNext(now);
}

// Line-bound polls follow one another on the worker's queue, so that the
// line never waits for this thread to take a reply and send the next; any
// other job waits until the line is free.
bool Watch::mayQueuePoll() const
{
    return inFlight_ <= kPollsQueued && lastPosted_ == Job::Kind::Read && lineBound_ && lineUp_ &&
           !probing_ && !stopping_ && urgent_.empty();
}

void Watch::armWake(Clock::time_point when)
{
    if (stopAt_) when = std::min(when, *stopAt_);
    if (hurrying_) when = std::min(when, hurryUntil_);
    const auto wait = std::chrono::ceil<milliseconds>(when - Clock::now());
    wakeTimer_.start(std::clamp(wait, milliseconds(0), kLongestWait));
}

void Watch::pollNext(Clock::time_point now)
{
    std::optional<std::size_t> next;
    for (std::size_t i = 0; i < tests_.size(); ++i)
        if (tests_[i]->state() == ModuleTest::State::Running && (!next || due_[i] < due_[*next]))
            next = i;
    if (!next) return;
    if (!lineBound_ && due_[*next] > now) return armWake(due_[*next]);
    // On time (or nearly): the next poll keeps to the grid, so that the period
    // stays the interval on average. Held up by a retry or a switch: the grid
    // starts again from now rather than catching up in a burst. Line-bound,
    // the next poll follows at once and the due times keep the turn.
    const auto slot = interval_ / std::max<std::size_t>(1, tests_.size());
    due_[*next] = (now - due_[*next] > slot / 2 ? now : due_[*next]) + interval_;
    // A silent module is asked once, and less often, so that the time its
    // timeouts take stays small beside the others' polls.
    const bool silent = tests_[*next]->silent();
    if (silent) due_[*next] += (kSilentPollEvery - 1) * interval_;
    post({inv_.addresses[*next], Job::Kind::Read, silent ? 1 : Bus::kTries});
}

// While the port is being reopened no poll can go out; each one due counts as
// unanswered, so that the model sees the silence as it would on the line.
void Watch::countUnsentPolls(Clock::time_point now)
{
    const qint64 monotonic = modbus::monotonicNowMsecs();
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        while (tests_[i]->state() == ModuleTest::State::Running && due_[i] <= now) {
            due_[i] += interval_;
            if (auto end = tests_[i]->missed(monotonic)) endTest(i, *end);
        }
    }
}

void Watch::awaitLine(Clock::time_point now)
{
    if (now >= reopenAt_) return post({0, Job::Kind::Reopen});
    Clock::time_point wake = reopenAt_;
    for (std::size_t i = 0; i < tests_.size(); ++i)
        if (tests_[i]->state() == ModuleTest::State::Running) wake = std::min(wake, due_[i]);
    armWake(wake);
}

std::size_t Watch::indexOf(std::uint8_t address) const
{
    return std::size_t(std::find(inv_.addresses.begin(), inv_.addresses.end(), address) -
                       inv_.addresses.begin());
}

void Watch::onPerformed(const JobResult& r)
{
    --inFlight_;
    if (r.job.kind == Job::Kind::Reopen) {
        reopened(r);
        return pump();
    }
    if (!r.lineUp && lineUp_) lineLost(r);
    if (r.lineUp && !lineUp_) lineBack();
    const std::size_t i = indexOf(r.job.address);
    tallies_[i] = r.tally;
    notePace(r);
    if (probing_) {
        probes_[i] = r;
        if (std::all_of(probes_.begin(), probes_.end(),
                        [](const auto& p) { return p.has_value(); }))
            startPolling();
        return pump();
    }
    if (tests_[i]->state() != ModuleTest::State::Ended) take(i, r);
    pump();
}

// The pace follows the line as measured all along: when a round of polls
// takes longer than the interval, they go one after another.
void Watch::notePace(const JobResult& r)
{
    if (r.job.kind != Job::Kind::Read || !std::holds_alternative<modbus::RegisterBlock>(r.block))
        return;
    pollTimes_.add(msecsOf(r.took));
    if (probing_) return;
    const auto running = std::count_if(tests_.begin(), tests_.end(), [](const auto& t) {
        return t->state() == ModuleTest::State::Running;
    });
    const auto round =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
            pollTimes_.typical() * double(std::max<long>(1, running))));
    lineBound_ = round > wanted_;
    interval_ = lineBound_ ? round : wanted_;
}

void Watch::lineLost(const JobResult& r)
{
    lineUp_ = false;
    lineLostAt_ = Clock::now();
    reopenDelay_ = kFirstReopen;
    reopenAt_ = lineLostAt_ + reopenDelay_;
    const auto* e = std::get_if<ExchangeError>(&r.block);
    say(QStringLiteral("the line was lost (%1): the port is reopened by its path for up to %2 s "
                       "(--lost-after); the modules' own cut-off protects the batteries meanwhile")
            .arg(e ? e->message : r.reopenError)
            .arg(inv_.lostAfter.count() / 1000.0));
}

void Watch::reopened(const JobResult& r)
{
    if (r.lineUp) return lineBack();
    reopenDelay_ = std::min<Clock::duration>(2 * reopenDelay_, kLongestReopen);
    reopenAt_ = Clock::now() + reopenDelay_;
}

// The tests go on in the same files; a switch-off that waited for the line goes now.
void Watch::lineBack()
{
    lineUp_ = true;
    say(QStringLiteral("the line is back after %1 s").arg(secondsText(Clock::now() - lineLostAt_)));
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        if (!offPending_[i]) continue;
        offPending_[i] = 0;
        urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOff});
    }
}

bool Watch::openFiles()
{
    const bool several = tests_.size() > 1;
    const bool folder = !inv_.xlsxFile.isEmpty() && QFileInfo(inv_.xlsxFile).isDir();
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        const std::uint8_t a = inv_.addresses[i];
        const QString xlsx = folder ? inv_.xlsxFile : fileForModule(inv_.xlsxFile, a, several);
        if (auto e = tests_[i]->files().open(fileForModule(inv_.csvFile, a, several), xlsx)) {
            say(*e);
            for (std::size_t k = 0; k < i; ++k)
                tests_[k]->files().discard();
            return false;
        }
    }
    return true;
}

// Every module answered once: the files open, the pace is set, and, with
// --load-on, every load is switched on. A module that did not answer ends
// the watch before anything is switched.
void Watch::startPolling()
{
    probing_ = false;
    double roundMs = 0;
    for (std::size_t i = 0; i < probes_.size(); ++i) {
        if (auto* e = std::get_if<ExchangeError>(&probes_[i]->block)) {
            say(e->message);
            status_ = kNoAnswer;
        }
        roundMs += msecsOf(probes_[i]->took);
    }
    if (status_ == kDone && !openFiles()) status_ = kFailed;
    if (status_ != kDone) {
        for (std::size_t i = 0; i < tests_.size(); ++i) {
            tests_[i]->beginEnd(kUnfinished);
            QStringList ignored;
            tests_[i]->finish(std::nullopt, ignored);
        }
        return;
    }

    const Pacing pacing = pacingFor(inv_.interval, int(tests_.size()), inv_.baud, roundMs);
    if (pacing.warning) say(*pacing.warning);
    lineBound_ = pacing.lineBound;
    interval_ = pacing.interval;
    const auto slot = interval_ / tests_.size();
    const auto now = Clock::now();
    for (std::size_t i = 0; i < tests_.size(); ++i)
        due_[i] = now + (i + 1) * slot;

    if (inv_.format == Format::Csv) out_.keep((csvHeaderWithAddress() + u'\n').toUtf8());
    if (inv_.format == Format::People) {
        const bool terminal = stdoutIsTerminal();
        out_.keep(((terminal ? QString() : QStringLiteral("time                    ")) +
                   valuesLineHeader() + u'\n')
                      .toUtf8());
        if (terminal) live_.emplace(int(tests_.size()));
    }
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        take(i, *probes_[i]);
        if (inv_.loadOn && tests_[i]->state() == ModuleTest::State::Running)
            urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOn});
    }
    if (inv_.stop.after) stopAt_ = now + *inv_.stop.after;
}

void Watch::take(std::size_t i, const JobResult& r)
{
    ModuleTest& t = *tests_[i];
    const bool closing = r.job.kind == Job::Kind::SwitchOff;
    // Sent is sent: a switch-on whose echo was lost must still show in the load.
    if (r.job.kind == Job::Kind::SwitchOn) t.switchedOn();
    if (auto* e = std::get_if<ExchangeError>(&r.block)) {
        showFailure(i, r, *e);
        if (closing) return switchOffFailed(i, *e);
        if (auto end = t.missed(r.monotonicMsecs)) endTest(i, *end);
        return;
    }
    const Reading reading = modbus::readingFromRegisters(std::get<modbus::RegisterBlock>(r.block),
                                                         r.time, r.monotonicMsecs);
    QStringList errors;
    const std::optional<TestEnd> end = t.take(reading, inv_.stop, errors);
    fileErrors(errors);
    showReading(i, reading);
    if (closing) return finishTest(i, reading.loadOn, true);
    if (end) endTest(i, *end);
}

// With the line down, the switch-off waits for it to come back while other
// tests still ride the loss through; at the end it is given up.
void Watch::switchOffFailed(std::size_t i, const ExchangeError& e)
{
    if (e.kind == Failure::LineDown && anyRunning() && !hurrying_) {
        offPending_[i] = 1;
        return;
    }
    finishTest(i, std::nullopt, true);
}

void Watch::endTest(std::size_t i, const TestEnd& end)
{
    tests_[i]->beginEnd(end);
    urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOff});
}

void Watch::endRunning(const TestEnd& end)
{
    for (std::size_t i = 0; i < tests_.size(); ++i)
        if (tests_[i]->state() == ModuleTest::State::Running) endTest(i, end);
}

// Nothing runs any more and the line has not come back: the switch-offs
// that waited for it get their last try, each with one more try to reopen
// the port; what fails then is given up (see switchOffFailed).
void Watch::finishUnreachable()
{
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        if (!offPending_[i]) continue;
        offPending_[i] = 0;
        urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOff});
    }
}

void Watch::finishTest(std::size_t i, std::optional<bool> loadOn, bool switchedOff)
{
    QStringList errors;
    ModuleEnd end = tests_[i]->finish(loadOn, errors);
    fileErrors(errors);
    if (end.end.key == discharge::endReasonKey(discharge::EndReason::LineLost) ||
        (switchedOff && !loadOn))
        status_ = std::max(status_, int(kNoAnswer));
    if (end.end.key == QLatin1String("load-not-on")) status_ = std::max(status_, int(kFailed));
    if (switchedOff && loadOn.value_or(false)) {
        say(QStringLiteral("address %1: the load still reads on after switching it off")
                .arg(end.address));
        status_ = std::max(status_, int(kFailed));
    }
    if (live_) showLive(i, QStringLiteral("  ended: %1").arg(end.end.key));
    if (tests_[i]->last()) ends_.push_back(std::move(end));
}

// The second signal's second is over: what could not be switched off in it
// stays as it is, and says so.
void Watch::abandon()
{
    urgent_.clear();
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        if (tests_[i]->state() == ModuleTest::State::Ended) continue;
        if (tests_[i]->state() == ModuleTest::State::Running) tests_[i]->beginEnd(kSignalEnd);
        finishTest(i, std::nullopt, true);
    }
    done();
}

bool Watch::anyRunning() const
{
    return std::any_of(tests_.begin(), tests_.end(),
                       [](const auto& t) { return t->state() == ModuleTest::State::Running; });
}

bool Watch::allEnded() const
{
    return std::all_of(tests_.begin(), tests_.end(),
                       [](const auto& t) { return t->state() == ModuleTest::State::Ended; });
}

void Watch::showReading(std::size_t i, const Reading& r)
{
    const std::uint8_t a = inv_.addresses[i];
    switch (inv_.format) {
    case Format::Json: return out_.show(jsonLine(readingJson(a, r)));
    case Format::Csv: return out_.show((csvRowWithAddress(a, r) + u'\n').toUtf8());
    case Format::People:
        if (live_) return showLive(i, {});
        out_.show(
            (r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + valuesLine(a, r) + u'\n')
                .toUtf8());
    }
}

void Watch::showFailure(std::size_t i, const JobResult& r, const ExchangeError& e)
{
    if (inv_.format == Format::Json) {
        return out_.show(
            jsonLine(failureJson(inv_.addresses[i], r.time, failureText(e.kind), e.message)));
    }
    if (live_) return showLive(i, QStringLiteral("  %1").arg(failureText(e.kind)));
    err_.show(QStringLiteral("eload-cli: %1\n").arg(e.message).toUtf8());
}

// The module's last values, its failed tries and what `note` adds.
void Watch::showLive(std::size_t i, const QString& note)
{
    const auto& last = tests_[i]->last();
    QString text = last ? valuesLine(inv_.addresses[i], *last)
                        : QStringLiteral("%1").arg(inv_.addresses[i], 4);
    if (tallies_[i].failed() > 0) text += QStringLiteral("  %1 failed").arg(tallies_[i].failed());
    out_.show(live_->set(int(i), text + note).toUtf8());
}

void Watch::say(const QString& message)
{
    err_.keep(QStringLiteral("eload-cli: %1\n").arg(message).toUtf8());
}

void Watch::fileErrors(const QStringList& errors)
{
    for (const QString& e : errors)
        say(e);
    if (!errors.isEmpty()) status_ = std::max(status_, int(kFailed));
}

// On stdout, unless its reader has stopped reading: then on stderr, so that
// the result is not lost with the display lines.
void Watch::printSummaries()
{
    QByteArray text;
    for (const ModuleEnd& e : ends_) {
        const Tally& tally = tallies_[indexOf(e.address)];
        const RecordsPlace* place = inv_.noDb ? nullptr : &place_;
        text += inv_.format == Format::Json ? jsonLine(summaryJson(e, tally, place))
                                            : summaryText(e, tally, place).toUtf8();
    }
    if (inv_.format == Format::Csv) return err_.keep(text);
    out_.keep(text);
    if (out_.drain(kSummaryWait) || out_.readerGone()) return;
    say(QStringLiteral("stdout has not been read for %1 s; the summary follows here")
            .arg(kSummaryWait.count() / 1000));
    err_.keep(text);
}

// Every load is off and every file closed: the records are stored or
// spooled before the summary says where they went. The writer is asked
// without waiting, each tick, so that the event thread never blocks on it.
void Watch::done()
{
    done_ = true;
    wakeTimer_.stop();
    if (!writer_) return report();
    writerDeadline_ = Clock::now() + kWriterWait;
    awaitWriter();
    if (writer_) writerTimer_.start();
}

void Watch::awaitWriter()
{
    if (writer_->stop(0)) return writerStopped(true);
    if (Clock::now() >= writerDeadline_) writerStopped(false);
}

void Watch::writerStopped(bool settled)
{
    writerTimer_.stop();
    place_.settled = settled;
    // Its last `stored` may still wait in the queue behind this tick.
    QCoreApplication::sendPostedEvents(writer_.get(), QEvent::MetaCall);
    // A writer still held by a database is left to end with the process:
    // what it had is in the spool already, and its destructor would wait again.
    if (!settled) (void)writer_.release();
    writer_.reset();
    sayWhereRecordsWent();
    report();
}

void Watch::sayWhereRecordsWent()
{
    qsizetype spooled = 0;
    for (const ModuleEnd& e : ends_)
        for (const QUuid& u : e.records)
            spooled += !place_.stored.contains(u);
    if (!place_.settled) {
        status_ = std::max(status_, int(kFailed));
        say(QStringLiteral("the test library's writer did not finish within %1 s: what it "
                           "held is in the spool %2 or lost; 'eload-cli tests sync' stores what "
                           "the spool holds")
                .arg(kWriterWait.count() / 1000)
                .arg(place_.spool));
    } else if (spooled > 0) {
        say(QStringLiteral("%1 test(s) stay in the spool %2 until %3 answers; 'eload-cli tests "
                           "sync' (or the next watch) stores them then")
                .arg(spooled)
                .arg(place_.spool, place_.library));
    }
}

void Watch::report()
{
    printSummaries();
    if (const qint64 dropped = out_.dropped())
        say(QStringLiteral("the reader of stdout fell behind: %1 display line(s) were not shown "
                           "(every reading is in the files, and no poll waited)")
                .arg(dropped));
    err_.drain(kSummaryWait);
    Q_EMIT finished(status_);
}

} // namespace eload::cli
