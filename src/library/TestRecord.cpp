#include "library/TestRecord.h"

namespace eload::library {

qint64 TestRecord::startMsecs() const
{
    return summary.samples > 0 ? summary.startMsecs : header.startMsecs;
}

qint64 TestRecord::endMsecs() const
{
    return summary.samples > 0 ? summary.endMsecs : header.startMsecs;
}

TestState TestRecord::state(qint64 nowMsecs) const
{
    if (finished) return TestState::Finished;
    return nowMsecs - updatedMsecs <= kRunningNewsMsecs ? TestState::Running
                                                        : TestState::Unfinished;
}

std::optional<double> stateOfHealth(const discharge::Summary& s, const Cell& cell)
{
    if (!cell.ratedAh || *cell.ratedAh <= 0) return std::nullopt;
    return s.capacityAh / *cell.ratedAh;
}

QString stateKey(TestState state)
{
    switch (state) {
    case TestState::Running: return QStringLiteral("running");
    case TestState::Finished: return QStringLiteral("finished");
    case TestState::Unfinished: return QStringLiteral("unfinished");
    }
    return {};
}

} // namespace eload::library
