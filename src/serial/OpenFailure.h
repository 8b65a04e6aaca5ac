#pragma once
// Why a serial device could not be opened, in the probe's numbers: 8002 for a
// device that is not there, 8005 for one that is busy or locked, every other
// cause with the system's words and, for missing rights, what to do.

#include "serial/SerialDevice.h"

#include <QSerialPort>
#include <QString>

namespace eload {

// Qt reports a lock held by someone else and missing rights alike as
// PermissionError; `accessDenied` (see below) tells them apart.
SerialError openFailure(QSerialPort::SerialPortError code, const QString& cause,
                        const QString& path, bool accessDenied);

// True when this process may not read and write the device at `path`.
bool accessDenied(const QString& path);

// The fix for a device the user may not open: join the group that owns it.
QString permissionRemedy(const QString& path);

} // namespace eload
