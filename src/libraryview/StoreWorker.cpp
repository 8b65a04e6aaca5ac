#include "libraryview/StoreWorker.h"

#include <QFileInfo>

namespace eload::libraryview {

using namespace library;

namespace {

// An idle thread ends at once; a busy one is not waited for long on the event thread.
constexpr unsigned long kCloseWaitMsecs = 500;

// No rules file is no rules; a file that is there but wrong is said.
void readRules(Listing& listing)
{
    const QString path = defaultGradeRulesPath();
    if (!QFileInfo::exists(path)) return;
    auto rules = loadGradeRules(path);
    if (auto* f = failureOf(rules))
        listing.rulesProblem = f->message;
    else
        listing.rules = std::get<GradeRules>(std::move(rules));
}

} // namespace

void StoreWorker::open(const DatabaseLocation& location)
{
    store_.reset();
    location_ = location; // connected by the first request
}

bool StoreWorker::ensureOpen()
{
    if (store_) return true;
    if (!location_) return false;
    auto store = Store::open(*location_);
    if (auto* f = failureOf(store)) {
        Q_EMIT failed(QStringLiteral("无法打开测试库：%1").arg(f->message));
        return false;
    }
    store_ = std::get<std::unique_ptr<Store>>(std::move(store));
    Q_EMIT opened(location_->displayText());
    return true;
}

void StoreWorker::list(const TestFilter& filter, int generation)
{
    if (!ensureOpen()) return;
    auto tests = store_->list(filter, ListDetail::Full);
    if (auto* f = failureOf(tests)) {
        Q_EMIT failed(QStringLiteral("读取测试库失败：%1").arg(f->message));
        return;
    }
    Listing listing;
    listing.generation = generation;
    listing.tests = std::make_shared<std::vector<TestRecord>>(
        std::get<std::vector<TestRecord>>(std::move(tests)));
    readRules(listing);
    Q_EMIT listed(listing);
}

void StoreWorker::readCurves(const QList<qint64>& ids, int generation)
{
    if (!ensureOpen()) return;
    CurveBatch batch;
    batch.generation = generation;
    for (qint64 id : ids) {
        auto record = store_->byId(id);
        auto samples = store_->curve(id);
        const Failure* f = failureOf(record) ? failureOf(record) : failureOf(samples);
        if (f) {
            Q_EMIT failed(QStringLiteral("读取曲线失败：%1").arg(f->message));
            // No curves rather than the last selection's under the new one.
            Q_EMIT curvesRead({generation, {}});
            return;
        }
        const auto& test = std::get<std::optional<TestRecord>>(record);
        if (!test) continue; // removed meanwhile
        batch.curves.push_back(curveOf(*test, std::get<std::vector<Sample>>(samples)));
    }
    Q_EMIT curvesRead(batch);
}

void StoreWorker::close() { store_.reset(); }

StoreThread::StoreThread() : thread_(new QThread), worker_(new StoreWorker)
{
    qRegisterMetaType<Listing>();
    qRegisterMetaType<CurveBatch>();
    thread_->setObjectName(QStringLiteral("library view"));
    worker_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start();
}

StoreThread::~StoreThread()
{
    StoreWorker* w = worker_;
    QMetaObject::invokeMethod(w, [w] { w->close(); });
    thread_->quit();
    // The worker goes with the thread's end (deleteLater on finished).
    if (thread_->wait(kCloseWaitMsecs)) {
        delete thread_;
        return;
    }
    // Held by a database that does not answer: the thread ends with the process.
    QObject::connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
}

void StoreThread::open(const DatabaseLocation& location)
{
    StoreWorker* w = worker_;
    QMetaObject::invokeMethod(w, [w, location] { w->open(location); });
}

void StoreThread::list(const TestFilter& filter, int generation)
{
    StoreWorker* w = worker_;
    QMetaObject::invokeMethod(w, [w, filter, generation] { w->list(filter, generation); });
}

void StoreThread::readCurves(const QList<qint64>& ids, int generation)
{
    StoreWorker* w = worker_;
    QMetaObject::invokeMethod(w, [w, ids, generation] { w->readCurves(ids, generation); });
}

} // namespace eload::libraryview
