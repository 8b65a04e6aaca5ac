#include "recording/RowJournal.h"

#include "recording/FileSync.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace eload {

namespace {

const QByteArray kMagic = QByteArrayLiteral("eload-rows 1\n");

QByteArray escaped(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::optional<QString> unescaped(const QByteArray& field)
{
    if (!field.contains('\\')) return QString::fromUtf8(field);
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size()) return std::nullopt;
        switch (field[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return std::nullopt;
        }
    }
    return QString::fromUtf8(out);
}

QByteArray checksumOf(QByteArrayView body)
{
    return QByteArray::number(qChecksum(body), 16).rightJustified(4, '0');
}

} // namespace

QByteArray journalLine(const RecordRow& row)
{
    QByteArray body = QByteArray::number(row.number);
    for (const QString& t : row.texts)
        body += '\t' + escaped(t);
    return body + '\t' + checksumOf(body) + '\n';
}

std::optional<RecordRow> parseJournalLine(QByteArray line)
{
    if (!line.endsWith('\n')) return std::nullopt; // cut short
    line.chop(1);
    const qsizetype lastTab = line.lastIndexOf('\t');
    if (lastTab < 0) return std::nullopt;
    const QByteArray body = line.left(lastTab);
    if (line.mid(lastTab + 1) != checksumOf(body)) return std::nullopt;
    const QList<QByteArray> fields = body.split('\t');
    if (fields.size() != kColumns) return std::nullopt;
    RecordRow row;
    bool ok = false;
    row.number = fields[0].toInt(&ok);
    if (!ok) return std::nullopt;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const auto text = unescaped(fields[i]);
        if (!text) return std::nullopt;
        row.texts.append(*text);
    }
    return row;
}

RowJournal::~RowJournal() { close(); }

QString RowJournal::fileNameFor(const QString& stem)
{
    return QLatin1Char('.') + stem + QStringLiteral(".rows");
}

QString RowJournal::stemOf(const QString& fileName)
{
    return fileName.mid(1, fileName.size() - 1 - int(qstrlen(".rows")));
}

QString RowJournal::filePattern() { return QStringLiteral(".*.rows"); }

std::optional<QString> RowJournal::openLocked(const QString& path, int flags)
{
    close();
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return lastSystemError();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const QString cause =
            errno == EWOULDBLOCK ? QStringLiteral("in use by another instance") : lastSystemError();
        ::close(fd);
        return cause;
    }
    fd_ = fd;
    path_ = path;
    return std::nullopt;
}

std::optional<QString> RowJournal::create(const QString& path)
{
    if (auto e = openLocked(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL)) return e;
    held_ = kMagic;
    // The journal's own entry must survive a power loss as well as its rows.
    if (auto e = sync()) {
        remove();
        return e;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return std::nullopt;
}

std::optional<QString> RowJournal::adopt(const QString& path)
{
    return openLocked(path, O_WRONLY | O_APPEND);
}

std::optional<QString> RowJournal::writeHeld()
{
    while (!held_.isEmpty()) {
        const ssize_t n = ::write(fd_, held_.constData(), size_t(held_.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return lastSystemError();
        held_.remove(0, n);
        unsynced_ = true;
    }
    return std::nullopt;
}

std::optional<QString> RowJournal::append(const RecordRow& row)
{
    if (!isOpen()) return QStringLiteral("journal not open");
    held_ += journalLine(row);
    return writeHeld();
}

std::optional<QString> RowJournal::sync()
{
    if (!isOpen()) return QStringLiteral("journal not open");
    if (auto e = writeHeld()) return e;
    if (!unsynced_) return std::nullopt;
    if (auto e = syncData(fd_)) return e;
    unsynced_ = false;
    return std::nullopt;
}

std::optional<QString>
RowJournal::readRows(const std::function<std::optional<QString>(const RecordRow&)>& take)
{
    if (!isOpen()) return QStringLiteral("journal not open");
    if (auto e = writeHeld()) return e;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return file.errorString();
    const QByteArray first = file.readLine();
    if (first.isEmpty() && file.atEnd()) return std::nullopt; // cut short before its first line
    if (first != kMagic) return QStringLiteral("%1 is not a row journal").arg(path_);
    while (!file.atEnd()) {
        const auto row = parseJournalLine(file.readLine());
        if (!row) break;
        if (auto e = take(*row)) return e;
    }
    if (file.error() != QFileDevice::NoError) return file.errorString();
    return std::nullopt;
}

void RowJournal::close()
{
    if (fd_ >= 0) {
        writeHeld(); // best effort: a held row may still fit
        ::close(fd_);
    }
    fd_ = -1;
    path_.clear();
    held_.clear();
    unsynced_ = false;
}

void RowJournal::remove()
{
    if (fd_ < 0) return;
    // Unlinked while still locked, so no other instance can adopt it meanwhile.
    ::unlink(QFile::encodeName(path_).constData());
    const QString folder = QFileInfo(path_).absolutePath();
    held_.clear();
    close();
    syncFolder(folder);
}

} // namespace eload
