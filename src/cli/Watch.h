#pragma once
// `watch`: every module polled in turn, once per interval each, its values
// shown and recorded, until each module's test ends (the module's own end as
// the test model decides it, our stop rules, the line lost for longer than
// --lost-after) or a signal ends them all. At every end the load is switched
// off and read back (on a signal only where --load-on switched it on), the
// files are closed and the summary printed.
//
// This object only schedules the line: polls, switch-ons and -offs, retries,
// reopening a lost port. Where a discharge ends and its figures are the
// model's (ModuleTest). The bus runs on a worker thread and one job is on
// the line at a time (the next poll may wait on its queue); stdout and
// stderr are written by threads of their own,
// so that neither a slow line nor a stalled reader holds the other up.

#include "cli/Arguments.h"
#include "cli/LineWorker.h"
#include "cli/LiveLines.h"
#include "cli/ModuleTest.h"
#include "cli/OutputStream.h"
#include "cli/Pacing.h"
#include "library/TestWriter.h"

#include <QObject>
#include <QThread>
#include <QTimer>
#include <deque>
#include <memory>
#include <vector>

namespace eload::cli {

class Watch : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    // After a second signal, how long the switch-offs may still take.
    static constexpr std::chrono::milliseconds kHurry{1000};
    // How long the summary may wait for a reader of stdout that makes no progress.
    static constexpr std::chrono::milliseconds kSummaryWait{5000};

    // How long the end waits for the test library's writer to store or spool what it holds.
    static constexpr std::chrono::milliseconds kWriterWait{60'000};

    // `library`: where the tests are recorded; none with --no-db.
    Watch(Invocation inv, std::unique_ptr<Bus> bus,
          std::optional<library::DatabaseLocation> library = std::nullopt);
    ~Watch() override;

    // Files named on the command line that exist already, or that cannot be
    // made as asked; nothing is sent then.
    static std::optional<QString> refusedFile(const Invocation& inv);
    // Where the workbooks go, and so where leftover journals are recovered.
    static QString workbookFolder(const QString& xlsxFile);

    // Polls each module once; finished() follows, at the latest when every test has ended.
    void start();
    // SIGINT or SIGTERM: every running test ends. A second one: the
    // switch-offs still due get a second at most, one try each.
    void stop();

Q_SIGNALS:
    void finished(int status);

private:
    void post(const Job& job);
    void pump();
    bool mayQueuePoll() const;
    void armWake(Clock::time_point when);
    void pollNext(Clock::time_point now);
    void awaitLine(Clock::time_point now);
    void countUnsentPolls(Clock::time_point now);
    void onPerformed(const JobResult& r);
    void notePace(const JobResult& r);
    void lineLost(const JobResult& r);
    void reopened(const JobResult& r);
    void lineBack();
    bool openFiles();
    void startPolling();
    void take(std::size_t i, const JobResult& r);
    void switchOffFailed(std::size_t i, const ExchangeError& e);
    void endTest(std::size_t i, const TestEnd& end);
    void endRunning(const TestEnd& end);
    void cancelSwitchOns();
    void finishTest(std::size_t i, std::optional<bool> loadOn, bool switchedOff);
    void finishUnreachable();
    void hurry();
    void abandon();
    bool anyRunning() const;
    bool allEnded() const;
    std::size_t indexOf(std::uint8_t address) const;
    void showReading(std::size_t i, const modbus::Reading& r);
    void showFailure(std::size_t i, const JobResult& r, const ExchangeError& e);
    void showLive(std::size_t i, const QString& note);
    void say(const QString& message);
    void fileErrors(const QStringList& errors);
    void startRecording(const library::DatabaseLocation& location);
    void awaitWriter();
    void writerStopped(bool settled);
    void sayWhereRecordsWent();
    void printSummaries();
    void done();
    void report();

    Invocation inv_;
    OutputStream out_;
    OutputStream err_;
    QThread thread_;
    LineWorker* worker_; // deleted on its thread's end
    std::vector<std::unique_ptr<ModuleTest>> tests_;
    std::vector<Tally> tallies_;
    std::vector<Clock::time_point> due_;
    std::vector<std::optional<JobResult>> probes_;
    std::vector<char> switchOnSent_; // the switch-on has gone to the line (or is on its way)
    std::vector<char> offPending_;   // ended; its switch-off waits for the line
    std::deque<Job> urgent_;
    std::vector<ModuleEnd> ends_;
    std::optional<LiveLines> live_;
    std::unique_ptr<library::TestWriter> writer_; // none with --no-db
    RecordsPlace place_;
    QTimer writerTimer_;
    Clock::time_point writerDeadline_;
    QTimer wakeTimer_;
    Clock::duration wanted_;   // the interval asked for
    Clock::duration interval_; // each module's period: wanted_, or a round when line-bound
    bool lineBound_ = false;   // the line cannot carry wanted_: polls follow one another
    PollTimes pollTimes_;      // of the polls on this line, lately
    std::optional<Clock::time_point> stopAt_;
    bool lineUp_ = true;
    Clock::time_point lineLostAt_;
    Clock::time_point reopenAt_;
    Clock::duration reopenDelay_{};
    Clock::time_point hurryUntil_;
    int inFlight_ = 0; // jobs posted to the worker and not yet answered
    Job::Kind lastPosted_ = Job::Kind::Read;
    bool probing_ = true;
    bool stopping_ = false;
    bool hurrying_ = false;
    bool done_ = false;
    int status_ = 0;
};

} // namespace eload::cli
