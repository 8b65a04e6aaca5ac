#include "cli/Watch.h"

#include "cli/Console.h"
#include "cli/Pacing.h"

#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <pthread.h>

namespace eload::cli {

namespace {

using modbus::Reading;

constexpr int kSilentPollEvery = 4; // intervals

const TestEnd kSignalEnd{{}, QStringLiteral("signal"), QStringLiteral("a signal")};
const TestEnd kTimeEnd{{}, QStringLiteral("stop-after"), QStringLiteral("--stop-after")};

QString xlsxName(const QString& file)
{
    return file.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)
               ? file
               : file + QStringLiteral(".xlsx");
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

Watch::Watch(Invocation inv, std::unique_ptr<Bus> bus)
    : inv_(std::move(inv)), worker_(new LineWorker(std::move(bus))), interval_(inv_.interval)
{
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &LineWorker::performed, this, &Watch::onPerformed);
    pollTimer_.setSingleShot(true);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &Watch::pump);
    stopAfterTimer_.setSingleShot(true);
    connect(&stopAfterTimer_, &QTimer::timeout, this, &Watch::endAllAfterTime);
    const auto now = Clock::now();
    for (std::uint8_t a : inv_.addresses)
        tests_.push_back(std::make_unique<ModuleTest>(a, now));
    tallies_.resize(tests_.size());
    due_.resize(tests_.size(), now);
    probes_.resize(tests_.size());
}

Watch::~Watch()
{
    thread_.quit();
    thread_.wait();
}

std::optional<QString> Watch::refusedFile(const Invocation& inv)
{
    const bool several = inv.addresses.size() > 1;
    for (std::uint8_t a : inv.addresses) {
        const QString xlsx = fileForModule(inv.xlsxFile, a, several);
        for (const QString& path :
             {fileForModule(inv.csvFile, a, several), xlsx.isEmpty() ? xlsx : xlsxName(xlsx)})
            if (!path.isEmpty() && QFileInfo::exists(path))
                return QStringLiteral("%1 exists already; choose another name").arg(path);
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
    stopping_ = true;
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        if (tests_[i]->state() != ModuleTest::State::Running) continue;
        if (inv_.loadOn && !probing_) {
            endTest(i, kSignalEnd);
        } else {
            tests_[i]->beginEnd(kSignalEnd);
            const auto& last = tests_[i]->last();
            finishTest(i, last ? std::optional<bool>(last->loadOn) : std::nullopt, false);
        }
    }
    pump();
}

void Watch::post(const Job& job)
{
    busy_ = true;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, job] { w->perform(job); }, Qt::QueuedConnection);
}

// Ends first, then the polls as they fall due; one job on the line at a time.
void Watch::pump()
{
    // Whoever read the values has gone: end as on a signal, not in the middle.
    if (stdoutLost() && !stopping_) return stop();
    if (busy_ || done_) return;
    if (!urgent_.empty()) {
        post(urgent_.front());
        urgent_.pop_front();
        return;
    }
    if (probing_) return;
    const bool allEnded = std::all_of(tests_.begin(), tests_.end(), [](const auto& t) {
        return t->state() == ModuleTest::State::Ended;
    });
    if (allEnded) return done();
    if (!stopping_) pollNext();
}

void Watch::pollNext()
{
    std::optional<std::size_t> next;
    for (std::size_t i = 0; i < tests_.size(); ++i)
        if (tests_[i]->state() == ModuleTest::State::Running && (!next || due_[i] < due_[*next]))
            next = i;
    if (!next) return;
    const auto now = Clock::now();
    const auto wait = due_[*next] - now;
    if (wait > Clock::duration::zero()) {
        pollTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(wait));
        return;
    }
    // On time (or nearly): the next poll keeps to the grid, so that the period
    // stays the interval on average. Held up by a retry or a switch: the grid
    // starts again from now rather than catching up in a burst.
    const auto slot = interval_ / tests_.size();
    due_[*next] = (-wait > slot / 2 ? now : due_[*next]) + interval_;
    // A silent module is asked once, and less often, so that the time its
    // timeouts take stays small beside the others' polls.
    const bool silent = tests_[*next]->silent();
    if (silent) due_[*next] += (kSilentPollEvery - 1) * interval_;
    post({inv_.addresses[*next], Job::Kind::Read, silent ? 1 : Bus::kTries});
}

void Watch::onPerformed(const JobResult& r)
{
    busy_ = false;
    const std::size_t i =
        std::size_t(std::find(inv_.addresses.begin(), inv_.addresses.end(), r.job.address) -
                    inv_.addresses.begin());
    tallies_[i] = r.tally;
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

// Every module answered once: the files open, the pace is set, and, with
// --load-on, every load is switched on. A module that did not answer ends
// the watch before anything is switched.
void Watch::startPolling()
{
    probing_ = false;
    if (stopping_) return; // a signal came first
    double roundMs = 0;
    for (std::size_t i = 0; i < probes_.size(); ++i) {
        if (auto* e = std::get_if<ExchangeError>(&probes_[i]->block)) {
            printError(e->message);
            status_ = kNoAnswer;
        }
        roundMs += std::chrono::duration<double, std::milli>(probes_[i]->took).count();
    }
    const bool several = tests_.size() > 1;
    for (std::size_t i = 0; i < tests_.size() && status_ == kDone; ++i) {
        const std::uint8_t a = inv_.addresses[i];
        if (auto e = tests_[i]->files().open(fileForModule(inv_.csvFile, a, several),
                                             fileForModule(inv_.xlsxFile, a, several))) {
            printError(*e);
            status_ = kFailed;
        }
    }
    if (status_ != kDone) {
        stopping_ = true;
        for (std::size_t i = 0; i < tests_.size(); ++i) {
            tests_[i]->beginEnd({});
            QStringList ignored;
            tests_[i]->finish(std::nullopt, ignored);
        }
        return;
    }

    const Pacing pacing = pacingFor(inv_.interval, int(tests_.size()), inv_.baud, roundMs);
    if (pacing.warning) printError(*pacing.warning);
    interval_ = pacing.interval;
    const auto slot = interval_ / std::max<std::size_t>(1, tests_.size());
    const auto now = Clock::now();
    for (std::size_t i = 0; i < tests_.size(); ++i)
        due_[i] = now + (i + 1) * slot;

    if (inv_.format == Format::Csv) printOut(csvHeaderWithAddress() + u'\n');
    if (inv_.format == Format::People) {
        const bool terminal = stdoutIsTerminal();
        printOut((terminal ? QString() : QStringLiteral("time                    ")) +
                 valuesLineHeader() + u'\n');
        if (terminal) live_.emplace(int(tests_.size()));
    }
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        take(i, *probes_[i]);
        if (inv_.loadOn && tests_[i]->state() == ModuleTest::State::Running)
            urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOn});
    }
    if (inv_.stop.after)
        stopAfterTimer_.start(std::min(*inv_.stop.after, std::chrono::milliseconds(INT_MAX)));
}

void Watch::take(std::size_t i, const JobResult& r)
{
    ModuleTest& t = *tests_[i];
    const bool closing = r.job.kind == Job::Kind::SwitchOff;
    if (auto* e = std::get_if<ExchangeError>(&r.block)) {
        showFailure(i, r, *e);
        if (closing) return finishTest(i, std::nullopt, true);
        if (auto end = t.missed(Clock::now(), e->kind == Failure::LineDown)) endTest(i, *end);
        return;
    }
    const Reading reading =
        modbus::readingFromRegisters(std::get<modbus::RegisterBlock>(r.block), r.time);
    QStringList errors;
    const std::optional<TestEnd> end = t.take(reading, inv_.stop, errors);
    fileErrors(errors);
    showReading(i, reading);
    if (closing) return finishTest(i, reading.loadOn, true);
    if (end) endTest(i, *end);
}

void Watch::endTest(std::size_t i, const TestEnd& end)
{
    tests_[i]->beginEnd(end);
    urgent_.push_back({inv_.addresses[i], Job::Kind::SwitchOff});
}

void Watch::endAllAfterTime()
{
    for (std::size_t i = 0; i < tests_.size(); ++i)
        if (tests_[i]->state() == ModuleTest::State::Running) endTest(i, kTimeEnd);
    pump();
}

void Watch::finishTest(std::size_t i, std::optional<bool> loadOn, bool switchedOff)
{
    QStringList errors;
    ModuleEnd end = tests_[i]->finish(loadOn, errors);
    fileErrors(errors);
    if (end.end.moduleReason == discharge::EndReason::LineLost || (switchedOff && !loadOn))
        status_ = std::max(status_, int(kNoAnswer));
    if (switchedOff && loadOn.value_or(false)) {
        printError(QStringLiteral("address %1: the load still reads on after switching it off")
                       .arg(end.address));
        status_ = std::max(status_, int(kFailed));
    }
    if (live_) showLive(i, QStringLiteral("  ended: %1").arg(end.end.key));
    if (tests_[i]->last()) ends_.push_back(std::move(end));
}

void Watch::showReading(std::size_t i, const Reading& r)
{
    const std::uint8_t a = inv_.addresses[i];
    switch (inv_.format) {
    case Format::Json: return printOut(jsonLine(readingJson(a, r)));
    case Format::Csv: return printOut(csvRowWithAddress(a, r) + u'\n');
    case Format::People:
        if (live_) return showLive(i, {});
        printOut(r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + valuesLine(a, r) +
                 u'\n');
    }
}

void Watch::showFailure(std::size_t i, const JobResult& r, const ExchangeError& e)
{
    if (inv_.format == Format::Json) {
        return printOut(
            jsonLine(failureJson(inv_.addresses[i], r.time, failureText(e.kind), e.message)));
    }
    if (live_) return showLive(i, QStringLiteral("  %1").arg(failureText(e.kind)));
    printError(e.message);
}

// The module's last values, its failed tries and what `note` adds.
void Watch::showLive(std::size_t i, const QString& note)
{
    const auto& last = tests_[i]->last();
    QString text = last ? valuesLine(inv_.addresses[i], *last)
                        : QStringLiteral("%1").arg(inv_.addresses[i], 4);
    if (tallies_[i].failed() > 0) text += QStringLiteral("  %1 failed").arg(tallies_[i].failed());
    live_->set(int(i), text + note);
}

void Watch::fileErrors(const QStringList& errors)
{
    for (const QString& e : errors)
        printError(e);
    if (!errors.isEmpty()) status_ = std::max(status_, int(kFailed));
}

void Watch::done()
{
    done_ = true;
    for (const ModuleEnd& e : ends_) {
        const Tally& tally = tallies_[std::size_t(
            std::find(inv_.addresses.begin(), inv_.addresses.end(), e.address) -
            inv_.addresses.begin())];
        if (inv_.format == Format::Json)
            printOut(jsonLine(summaryJson(e, tally)));
        else if (inv_.format == Format::Csv)
            printError(summaryText(e, tally).trimmed());
        else
            printOut(summaryText(e, tally));
    }
    Q_EMIT finished(status_);
}

} // namespace eload::cli
