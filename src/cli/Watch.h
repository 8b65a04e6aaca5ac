#pragma once
// `watch`: every module polled in turn, once per interval each, its values
// shown and recorded, until each module's test ends (our stop rules, the
// module's own end, the line lost) or a signal ends them all. At every end
// the load is switched off and read back (on a signal only where --load-on
// switched it on), the files are closed and the summary printed.
//
// The bus runs on a worker thread; this object, on the event thread, decides
// what is sent when and keeps one job outstanding at a time.

#include "cli/Arguments.h"
#include "cli/LineWorker.h"
#include "cli/LiveLines.h"
#include "cli/ModuleTest.h"

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
    Watch(Invocation inv, std::unique_ptr<Bus> bus);
    ~Watch() override;

    // Files named on the command line that exist already; nothing is sent then.
    static std::optional<QString> refusedFile(const Invocation& inv);

    // Polls each module once; finished() follows, at the latest when every test has ended.
    void start();
    // SIGINT or SIGTERM: every running test ends.
    void stop();

Q_SIGNALS:
    void finished(int status);

private:
    using Clock = std::chrono::steady_clock;

    void post(const Job& job);
    void pump();
    void pollNext();
    void onPerformed(const JobResult& r);
    void startPolling();
    void take(std::size_t i, const JobResult& r);
    void endTest(std::size_t i, const TestEnd& end);
    void finishTest(std::size_t i, std::optional<bool> loadOn, bool switchedOff);
    void endAllAfterTime();
    void showReading(std::size_t i, const modbus::Reading& r);
    void showFailure(std::size_t i, const JobResult& r, const ExchangeError& e);
    void showLive(std::size_t i, const QString& note);
    void fileErrors(const QStringList& errors);
    void done();

    Invocation inv_;
    QThread thread_;
    LineWorker* worker_; // deleted on its thread's end
    std::vector<std::unique_ptr<ModuleTest>> tests_;
    std::vector<Tally> tallies_;
    std::vector<Clock::time_point> due_;
    std::vector<std::optional<JobResult>> probes_;
    std::deque<Job> urgent_;
    std::vector<ModuleEnd> ends_;
    std::optional<LiveLines> live_;
    QTimer pollTimer_;
    QTimer stopAfterTimer_;
    std::chrono::milliseconds interval_;
    bool busy_ = false;
    bool probing_ = true;
    bool stopping_ = false;
    bool done_ = false;
    int status_ = 0;
};

} // namespace eload::cli
