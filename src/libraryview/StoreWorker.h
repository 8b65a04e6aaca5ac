#pragma once
// The window's own connection to the test library, on a thread of its own:
// opening a PostgreSQL server that does not answer, or reading 10,000 tests,
// never holds the event thread. Requests run in order; every answer is a
// queued signal, so a window closed meanwhile simply gets none. A failure is
// a message naming the database.

#include "libraryview/CurveData.h"

#include "library/Grading.h"
#include "library/Store.h"

#include <QMetaType>
#include <QObject>
#include <QThread>
#include <memory>
#include <vector>

namespace eload::libraryview {

struct Listing {
    int generation = 0;
    // Shared, so that the queued signal's copy costs nothing; the window
    // takes the tests out once.
    std::shared_ptr<std::vector<library::TestRecord>> tests;
    library::GradeRules rules;
    QString rulesProblem; // a rules file that exists but cannot be read
};

struct CurveBatch {
    int generation = 0;
    std::vector<TestCurve> curves;
};

class StoreWorker : public QObject {
    Q_OBJECT
public:
    // Runs in the worker's thread; called through StoreThread. A request
    // opens the library first when it is not open yet (刷新 tries again a
    // server that was down).
    void open(const library::DatabaseLocation& location);
    void list(const library::TestFilter& filter, int generation);
    void readCurves(const QList<qint64>& ids, int generation);
    void close();

Q_SIGNALS:
    void opened(const QString& displayText);
    void listed(const eload::libraryview::Listing& listing);
    void curvesRead(const eload::libraryview::CurveBatch& batch);
    void failed(const QString& message); // says whether opening or reading failed

private:
    bool ensureOpen();

    std::optional<library::DatabaseLocation> location_;
    std::unique_ptr<library::Store> store_;
};

// Owns the thread and the worker in it.
class StoreThread {
public:
    StoreThread();
    // Waits a moment for the request running; one that takes longer (a
    // database that does not answer) finishes alone, and its thread and
    // worker are deleted when it ends.
    ~StoreThread();
    StoreThread(const StoreThread&) = delete;
    StoreThread& operator=(const StoreThread&) = delete;

    StoreWorker* worker() const { return worker_; }
    void open(const library::DatabaseLocation& location);
    void list(const library::TestFilter& filter, int generation);
    void readCurves(const QList<qint64>& ids, int generation);

private:
    QThread* thread_;
    StoreWorker* worker_;
};

} // namespace eload::libraryview

Q_DECLARE_METATYPE(eload::libraryview::Listing)
Q_DECLARE_METATYPE(eload::libraryview::CurveBatch)
