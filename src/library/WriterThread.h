#pragma once
// The thread behind TestWriter (internal): the queue it shares with the
// event thread, and the loop that writes it to the database or the spool.

#include "library/Spool.h"
#include "library/Store.h"
#include "library/TestWriter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <map>
#include <thread>

namespace eload::library {

// What the event thread handed over since the last flush.
struct Inbox {
    std::vector<TestHeader> begun;
    std::map<QUuid, std::vector<discharge::Sample>> samples;
    std::map<QUuid, discharge::Summary> figures; // the latest only
    std::set<QUuid> finished;
    std::map<QUuid, Cell> cells; // the latest only
    qsizetype queued = 0;        // samples
};

// Every member under `mutex`.
struct WriterShared {
    QMutex mutex;
    QWaitCondition wake;
    Inbox inbox;
    bool stopping = false;
    bool ended = false; // the thread's loop is over; `wake` tells
    qsizetype held = 0; // taken by the thread, not yet in the database or spool
    bool spooling = false;
    bool durable = true; // at the end: everything reached the database or spool
};

// A std::thread, not a QThread: it is joined, so that what the libraries
// keep per thread (OpenSSL's, under libpq) is gone before the process ends;
// QThread::wait returns before that. The object lives in the event thread
// and its signals reach it queued.
class WriterThread : public QObject {
    Q_OBJECT
public:
    WriterThread(WriterOptions options, std::shared_ptr<WriterShared> shared);
    // Joins the thread, which must have ended (or been abandoned).
    ~WriterThread() override;

    void start();
    // Whether the loop ended before `deadline`.
    bool waitEnded(QDeadlineTimer deadline);
    // Lets a thread that does not end (a database that does not answer) run
    // on alone until the process ends; the object must then outlive it.
    void abandon();

Q_SIGNALS:
    void problemFound(const QString& message);
    void troubleEnded(const QString& message);
    void testStored(const QUuid& test);

private:
    void run();
    // A test as the thread knows it.
    struct LiveTest {
        TestHeader header;
        qint64 id = 0;                          // its key in the open store; 0: not looked up
        qint64 durableEnd = 0;                  // samples before this are in the database or spool
        std::vector<discharge::Sample> pending; // from durableEnd on
        std::optional<discharge::Summary> figures;
        bool figuresPending = false;
        bool finished = false;
        bool cellPending = false;   // header.cell changed after the header was taken
        bool inSpool = false;       // some of it waits in the spool for the database
        bool headerInSpool = false; // the spool file holds its header
        bool headerStored = false;  // the database holds its row
        int sinceCompaction = 0;    // samples stored since its curve was compacted
        bool hasPending() const
        {
            return !pending.empty() || figuresPending || cellPending || (!headerStored && !inSpool);
        }
    };

    Inbox takeInbox(bool& stopping);
    void absorb(Inbox inbox);
    void flush(bool stopping);
    bool connectStore();
    bool writeDirect();
    std::optional<Failure> writeTest(LiveTest& t, qint64 now);
    std::optional<Failure> writeLaterCells();
    void afterCommit();
    void compactDue();
    bool spoolPending();
    std::vector<SpoolRecord> spoolRecordsOf(const QUuid& uuid, const LiveTest& t) const;
    bool replaySpool();
    bool recover();
    void dropStore(const Failure& why);
    void databaseTrouble(const Failure& why);
    void spoolTrouble(const Failure& why);
    void endTrouble();
    void forgetStored(const QList<QUuid>& finished);
    void publishHeld();
    void publishSpooling(bool spooling);
    qsizetype heldReplies() const;
    bool anythingPending() const;
    bool spoolInUse() const;

    WriterOptions options_;
    std::shared_ptr<WriterShared> shared_;
    std::unique_ptr<Store> store_;
    SpoolFile spool_;
    std::map<QUuid, LiveTest> tests_;
    std::map<QUuid, Cell> laterCells_; // of tests already stored and forgotten here
    QElapsedTimer clock_;
    qint64 lastAttemptMs_ = 0;
    qint64 spooledReplies_ = 0; // since the trouble began
    bool databaseTold_ = false, spoolTold_ = false;
    std::thread thread_;
};

} // namespace eload::library
