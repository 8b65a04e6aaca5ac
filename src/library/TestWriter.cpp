#include "library/TestWriter.h"

#include "library/WriterThread.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

namespace eload::library {

TestWriter::TestWriter(WriterOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), shared_(std::make_shared<WriterShared>())
{
    if (options_.spoolFolder.isEmpty())
        options_.spoolFolder = defaultSpoolFolder(options_.location);
    thread_ = std::make_unique<WriterThread>(options_, shared_);
    connect(thread_.get(), &WriterThread::problemFound, this, &TestWriter::problem);
    connect(thread_.get(), &WriterThread::troubleEnded, this, &TestWriter::recovered);
    connect(thread_.get(), &WriterThread::testStored, this, &TestWriter::stored);
    thread_->start();
}

TestWriter::~TestWriter()
{
    // A database that holds the thread beyond the wait: the thread ends with
    // the process; what it was writing is in the spool already.
    if (thread_ && !stop(stopTimedOut_ ? 0 : 60'000)) {
        thread_->abandon();
        (void)thread_.release();
    }
}

QUuid TestWriter::begin(TestHeader header)
{
    if (header.uuid.isNull()) header.uuid = QUuid::createUuid();
    const QUuid uuid = header.uuid;
    open_.insert(uuid);
    begun_.insert(uuid);
    QMutexLocker lock(&shared_->mutex);
    shared_->inbox.begun.push_back(std::move(header));
    return uuid;
}

bool TestWriter::append(const QUuid& test, const discharge::Sample& sample)
{
    if (!thread_ || !open_.contains(test)) return false;
    qsizetype held = 0;
    {
        QMutexLocker lock(&shared_->mutex);
        Inbox& inbox = shared_->inbox;
        held = inbox.queued + shared_->held;
        if (held < options_.maxHeld) {
            inbox.samples[test].push_back(sample);
            ++inbox.queued;
        }
    }
    if (held < options_.maxHeld) {
        if (held < options_.maxHeld / 2) fullTold_ = false;
        return true;
    }
    ++refused_;
    tellFull();
    return false;
}

void TestWriter::tellFull()
{
    if (fullTold_) return;
    fullTold_ = true;
    Q_EMIT problem(QStringLiteral("the test library writer holds %1 replies that neither the "
                                  "database nor the spool took: new replies are refused (%2 so "
                                  "far) until they do")
                       .arg(options_.maxHeld)
                       .arg(refused_));
}

void TestWriter::update(const QUuid& test, const discharge::Summary& figures)
{
    if (!open_.contains(test)) return;
    QMutexLocker lock(&shared_->mutex);
    shared_->inbox.figures[test] = figures;
}

void TestWriter::finish(const QUuid& test, const discharge::Summary& figures)
{
    if (!open_.erase(test)) return;
    QMutexLocker lock(&shared_->mutex);
    shared_->inbox.figures[test] = figures;
    shared_->inbox.finished.insert(test);
}

void TestWriter::setCell(const QUuid& test, const Cell& cell)
{
    if (!thread_ || !begun_.contains(test)) return;
    QMutexLocker lock(&shared_->mutex);
    shared_->inbox.cells[test] = cell;
}

bool TestWriter::stop(int waitMs)
{
    if (!thread_) return durable();
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->stopping = true;
        shared_->wake.wakeAll();
    }
    if (!thread_->waitEnded(QDeadlineTimer(waitMs))) {
        stopTimedOut_ = true;
        return false;
    }
    thread_.reset(); // joins it
    return durable();
}

TestWriter::Status TestWriter::status() const
{
    QMutexLocker lock(&shared_->mutex);
    return {shared_->inbox.queued + shared_->held, shared_->spooling};
}

bool TestWriter::durable() const
{
    QMutexLocker lock(&shared_->mutex);
    return shared_->durable;
}

} // namespace eload::library
