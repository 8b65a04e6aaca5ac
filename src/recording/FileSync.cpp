#include "recording/FileSync.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace eload {

QString lastSystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

std::optional<QString> syncData(int fd)
{
    if (::fdatasync(fd) != 0) return lastSystemError();
    return std::nullopt;
}

std::optional<QString> syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return lastSystemError();
    std::optional<QString> failure;
    if (::fsync(fd) != 0) failure = lastSystemError();
    ::close(fd);
    return failure;
}

void syncFolder(const QString& folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace eload
