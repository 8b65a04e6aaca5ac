#include "reader/RecordingFile.h"

#include "discharge/TestModel.h"

#include <QFileInfo>
#include <exception>
#include <new>

namespace eload::reader {

namespace {

ReadError failureOf(const QString& path, ReadProblem problem, const QString& reason = {})
{
    ReadError e;
    e.problem = problem;
    e.file = path;
    e.reason = reason;
    return e;
}

ReadResult readByType(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xlsx") return readWorkbook(path);
    if (suffix == u"csv") return readCsv(path);
    return failureOf(path, ReadProblem::UnsupportedType);
}

} // namespace

// What is kept is bounded, yet the machine may have less: a read that runs
// out of memory has failed like any other, and tells so.
ReadResult readRecording(const QString& path)
{
    try {
        return readByType(path);
    } catch (const std::bad_alloc&) {
        return failureOf(path, ReadProblem::OutOfMemory);
    } catch (const std::exception& e) {
        return failureOf(path, ReadProblem::Unexpected, QString::fromLocal8Bit(e.what()));
    }
}

Summary summarize(const RecordedCurve& curve)
{
    return discharge::summarize(curve.samples, curve.hasStatus);
}

} // namespace eload::reader
