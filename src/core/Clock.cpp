#include "core/Clock.h"

#include <QThread>
#include <chrono>

namespace eload {

qint64 Clock::monotonicMsecs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

void SystemClock::pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

} // namespace eload
