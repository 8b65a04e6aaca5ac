#include "serial/OpenFailure.h"

#include "core/Texts.h"

#include <QFileInfo>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace eload {

SerialError openFailure(QSerialPort::SerialPortError code, const QString& cause,
                        const QString& path, bool accessDenied)
{
    switch (code) {
    case QSerialPort::DeviceNotFoundError: return {SerialError::kNoSuchPort, cause, {}};
    case QSerialPort::OpenError: // this very object holds it already
        return {SerialError::kPortInUse, cause, {}};
    case QSerialPort::PermissionError:
        if (accessDenied) return {SerialError::kOtherFailure, cause, permissionRemedy(path)};
        return {SerialError::kPortInUse, cause, {}};
    default: return {SerialError::kOtherFailure, cause, {}};
    }
}

bool accessDenied(const QString& path)
{
    if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) == 0) return false;
    return errno == EACCES || errno == EPERM;
}

std::optional<DeviceGroup> deviceGroup(const QString& path)
{
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0 || st.st_gid == 0) return std::nullopt;
    const struct group* g = ::getgrgid(st.st_gid);
    return DeviceGroup{unsigned(st.st_gid), g ? QString::fromLocal8Bit(g->gr_name) : QString()};
}

QString permissionRemedy(const QString& path)
{
    // Group root is no group to join: the device's rights need changing.
    const std::optional<DeviceGroup> group = deviceGroup(path);
    if (!group) return texts::kNoAccessCheckRights.arg(path);
    if (!group->name.isEmpty()) return texts::kNoAccessJoinGroup.arg(path, group->name);
    return texts::kNoAccessGroupId.arg(path, QString::number(group->id));
}

SerialError lineFailure(QSerialPort::SerialPortError code, const QString& cause,
                        const QString& path)
{
    // A hung-up tty reads end of file, which Qt reports with whatever errno was left.
    const bool hungUp = code == QSerialPort::ResourceError || code == QSerialPort::ReadError;
    const QString& reason = !QFileInfo::exists(path) ? texts::kLineDeviceGone
                            : hungUp                 ? texts::kLineHungUp
                                                     : texts::kLineIoFailed;
    return {SerialError::kOtherFailure, reason,
            cause.isEmpty() ? QString() : texts::kSystemSays.arg(cause)};
}

} // namespace eload
