#include "core/Clock.h"

#include <QThread>

namespace eload {

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

void SystemClock::pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

} // namespace eload
