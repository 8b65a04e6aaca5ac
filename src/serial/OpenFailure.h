#pragma once
// Why a serial device could not be opened, in the probe's numbers: 8002 for a
// device that is not there, 8005 for one that is busy or locked, every other
// cause with the system's words and, for missing rights, what to do. And why
// an open line was lost, in plain words.

#include "serial/SerialDevice.h"

#include <QSerialPort>
#include <QString>
#include <optional>

namespace eload {

// Qt reports a lock held by someone else and missing rights alike as
// PermissionError; `accessDenied` (see below) tells them apart.
SerialError openFailure(QSerialPort::SerialPortError code, const QString& cause,
                        const QString& path, bool accessDenied);

// True when this process may not read and write the device at `path`.
bool accessDenied(const QString& path);

// The group that owns the device at `path`, for a user to join: its id and
// name (empty when the system knows none); nothing when the device cannot be
// looked at or belongs to group root, which is no group to join.
struct DeviceGroup {
    unsigned id = 0;
    QString name;
};
std::optional<DeviceGroup> deviceGroup(const QString& path);

// The fix for a device the user may not open: join the group that owns it.
QString permissionRemedy(const QString& path);

// A line that failed while open: the device at `path` gone, hung up, or
// failing otherwise, with the system's words `cause` as the line after. Those
// are often a stale errno, such as "Inappropriate ioctl for device" for an
// unplugged adapter.
SerialError lineFailure(QSerialPort::SerialPortError code, const QString& cause,
                        const QString& path);

} // namespace eload
