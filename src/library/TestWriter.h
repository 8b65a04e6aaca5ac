#pragma once
// Records live tests into the test library, reply by reply, without ever
// making its caller wait for a database or a disk.
//
// Called from the event thread: begin() a test, append() each reply,
// update() the model's figures as they change (gaps, flags), finish() it
// with the final figures. Each call only puts the data in a queue and
// returns. A thread of the writer's own, with its own connection, takes the
// queue about once a second (flushMs) and writes it to the database in one
// transaction, so a crash loses at most that last second or two.
//
// When the database does not take a batch (a server stopped, a full disk,
// a lock held too long), the batch goes to the spool (Spool.h) on the local
// disk instead, and so does everything after it, in order, until the
// database answers again (tried every retryMs): then the spool is replayed
// into it and emptied. When the spool cannot be written either, the replies
// stay in memory, up to maxHeld of them, until one of the two takes them.
// Beyond that, and only then, replies are refused: append() says false and
// problem() tells. Nothing else is ever dropped.
//
// stop() (and the destructor) writes what is queued; with a database that
// does not answer in time it stays in the spool, which the next writer for
// the same database (or `eload-cli tests sync`) replays.

#include "library/Location.h"
#include "library/TestRecord.h"

#include "discharge/Sample.h"

#include <QObject>
#include <QUuid>
#include <memory>
#include <set>

namespace eload::library {

struct WriterShared;
class WriterThread;

struct WriterOptions {
    DatabaseLocation location;
    QString spoolFolder; // empty: defaultSpoolFolder(location)
    int flushMs = 1000;
    int retryMs = 5000;
    qsizetype maxHeld = 2'000'000; // replies; about 100 MB
};

class TestWriter : public QObject {
    Q_OBJECT
public:
    // Starts the writer's thread; leftovers in the spool are replayed first.
    explicit TestWriter(WriterOptions options, QObject* parent = nullptr);
    ~TestWriter() override;

    // A new test: its UUID (header.uuid, made when null).
    QUuid begin(TestHeader header);
    // One reply of a test begun and not finished; false when refused (an
    // unknown test, or the writer holding maxHeld replies).
    bool append(const QUuid& test, const discharge::Sample& sample);
    // The figures so far; only the latest is written.
    void update(const QUuid& test, const discharge::Summary& figures);
    void finish(const QUuid& test, const discharge::Summary& figures);
    // The cell of a test begun here, running or finished (named after its
    // end, say); only the latest is written. Its state of health follows.
    void setCell(const QUuid& test, const Cell& cell);

    // Writes what is queued and ends the thread, waiting at most `waitMs`.
    // True when everything reached the database or the spool in time. After
    // a stop that ran out of time the destructor does not wait again.
    bool stop(int waitMs = 60'000);

    // Where replies go while the database does not take them.
    const QString& spoolFolder() const { return options_.spoolFolder; }

    struct Status {
        qsizetype heldReplies = 0; // in memory, neither in the database nor in the spool
        bool spooling = false;     // the database is not taking replies now
    };
    Status status() const;

Q_SIGNALS:
    // The database or the spool refused a write, replies were refused: once
    // per spell of trouble, with where the data is.
    void problem(const QString& message);
    // The spell ended: what was held or spooled reached the database.
    void recovered(const QString& message);
    // A finished test's record is complete in the database.
    void stored(const QUuid& test);

private:
    void tellFull();
    bool durable() const;

    WriterOptions options_;
    std::shared_ptr<WriterShared> shared_;
    std::unique_ptr<WriterThread> thread_;
    std::set<QUuid> open_;  // begun, not finished
    std::set<QUuid> begun_; // every test begun here: its cell may change
    bool stopTimedOut_ = false;
    qint64 refused_ = 0;
    bool fullTold_ = false;
};

} // namespace eload::library
