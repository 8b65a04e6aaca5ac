#include "serial/PortLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>

#include <cerrno>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace eload {

namespace {

// QSerialPort's lock folders, in its order.
const QStringList& lockFolders()
{
    static const QStringList folders{
        QStringLiteral("/var/lock"),
        QStringLiteral("/etc/locks"),
        QStringLiteral("/var/spool/locks"),
        QStringLiteral("/var/spool/uucp"),
        QStringLiteral("/tmp"),
        QStringLiteral("/var/tmp"),
        QStringLiteral("/var/lock/lockdev"),
        QStringLiteral("/run/lock"),
    };
    return folders;
}

QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// "00:1c:1234" as /proc/locks names an inode: the device of its file system
// (hexadecimal major and minor) and its number.
QString inodeKey(const struct stat& st)
{
    return QStringLiteral("%1:%2:%3")
        .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
        .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
        .arg(st.st_ino);
}

std::optional<PortHolder> flockHolder(const QString& path)
{
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) return std::nullopt;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString key = inodeKey(st);
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1c:5 0 EOF"; waiters have "->" after the number.
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).simplified().split(u' ');
        if (f.size() < 6 || f[1] != QLatin1String("FLOCK") || f[5] != key) continue;
        const qint64 pid = f[4].toLongLong();
        return PortHolder{pid, pid > 0 ? programOf(pid) : QString()};
    }
    return std::nullopt;
}

std::optional<PortHolder> lockFileHolder(const QString& path)
{
    const QString lockPath = serialLockFilePath(path);
    if (lockPath.isEmpty() || !QFile::exists(lockPath)) return std::nullopt;
    QLockFile file(lockPath);
    qint64 pid = 0;
    QString host, program;
    if (!file.getLockInfo(&pid, &host, &program)) return std::nullopt;
    return PortHolder{pid, program};
}

// A process other than this one with the device open.
std::optional<PortHolder> openerOf(const QString& path)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty()) return std::nullopt;
    const qint64 self = qint64(::getpid());
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self) continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget() == device) return PortHolder{pid, programOf(pid)};
    }
    return std::nullopt;
}

} // namespace

QString PortHolder::text() const
{
    if (pid <= 0) return program;
    if (program.isEmpty()) return QStringLiteral("pid %1").arg(pid);
    return QStringLiteral("%1 (pid %2)").arg(program).arg(pid);
}

QString serialLockFilePath(const QString& path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(u'/', u'_');
    const QString fileName = QStringLiteral("/LCK..") + name;
    for (const QString& folder : lockFolders()) {
        const QFileInfo info(folder);
        if (info.isReadable() && (QFile::exists(folder + fileName) || info.isWritable()))
            return folder + fileName;
    }
    return {};
}

std::variant<std::unique_ptr<PortLockFile>, PortBusy> PortLockFile::take(const QString& path)
{
    const QString lockPath = serialLockFilePath(path);
    // No lock folder at all: the flock on the device still keeps others out.
    if (lockPath.isEmpty()) return std::unique_ptr<PortLockFile>(new PortLockFile(nullptr));
    auto file = std::make_unique<QLockFile>(lockPath);
    if (file->tryLock(0)) return std::unique_ptr<PortLockFile>(new PortLockFile(std::move(file)));
    qint64 pid = 0;
    QString host, program;
    if (file->getLockInfo(&pid, &host, &program)) return PortBusy{PortHolder{pid, program}};
    return PortBusy{findHolder(path)};
}

PortLockFile::PortLockFile(std::unique_ptr<QLockFile> file) : file_(std::move(file)) {}

PortLockFile::~PortLockFile() = default;

std::optional<PortBusy> lockDevice(int fd, const QString& path)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return std::nullopt;
    return PortBusy{findHolder(path)};
}

std::optional<PortHolder> findHolder(const QString& path)
{
    if (std::optional<PortHolder> holder = flockHolder(path)) return holder;
    if (std::optional<PortHolder> holder = lockFileHolder(path)) return holder;
    return openerOf(path);
}

void releaseExclusive(int fd) { ::ioctl(fd, TIOCNXCL); }

} // namespace eload
