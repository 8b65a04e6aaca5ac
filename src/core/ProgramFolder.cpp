#include "core/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sys/stat.h>
#include <unistd.h>

namespace eload {

namespace {

// Where packages and administrators put programs and the system's own data.
const QStringList kSystemPrefixes = {
    QStringLiteral("/usr"),   QStringLiteral("/opt"),    QStringLiteral("/bin"),
    QStringLiteral("/sbin"),  QStringLiteral("/lib"),    QStringLiteral("/lib32"),
    QStringLiteral("/lib64"), QStringLiteral("/libx32"), QStringLiteral("/etc"),
    QStringLiteral("/boot"),  QStringLiteral("/snap"),   QStringLiteral("/var/lib"),
};

bool underSystemPrefix(const QString& canonical)
{
    if (canonical == QLatin1String("/")) return true;
    for (const QString& prefix : kSystemPrefixes)
        if (canonical == prefix || canonical.startsWith(prefix + QLatin1Char('/'))) return true;
    return false;
}

} // namespace

FolderUse programFolderUse(const QString& folder)
{
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty() || !info.isDir()) return FolderUse::NotWritable;
    if (underSystemPrefix(canonical)) return FolderUse::System;
    const QByteArray path = QFile::encodeName(canonical);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return FolderUse::NotWritable;
    if (st.st_uid != ::geteuid()) return FolderUse::OtherUser;
    if (::access(path.constData(), W_OK | X_OK) != 0) return FolderUse::NotWritable;
    return FolderUse::Own;
}

} // namespace eload
