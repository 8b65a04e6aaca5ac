#include "cli/ModuleFiles.h"

#include "discharge/Sample.h"
#include "modbus/Reading.h"
#include "reader/RecordingFile.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace eload::cli {

QString fileForModule(const QString& file, std::uint8_t address, bool several)
{
    if (file.isEmpty() || !several) return file;
    const QFileInfo info(file);
    const QString suffix = info.suffix();
    const QString stem = suffix.isEmpty() ? file : file.chopped(suffix.size() + 1);
    return QStringLiteral("%1-%2%3").arg(stem).arg(address).arg(suffix.isEmpty() ? QString()
                                                                                 : u'.' + suffix);
}

ModuleFiles::~ModuleFiles()
{
    QStringList ignored;
    close(ignored);
}

std::optional<QString> ModuleFiles::open(const QString& csvPath, const QString& xlsxPath)
{
    if (!csvPath.isEmpty()) {
        csv_.setFileName(csvPath);
        if (!csv_.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QStringLiteral("%1: %2").arg(
                csvPath, csv_.exists() ? QStringLiteral("exists already") : csv_.errorString());
        csv_.write((reader::csvHeader() + u'\n').toUtf8());
        csv_.flush();
    }
    if (!xlsxPath.isEmpty()) {
        book_ = std::make_unique<WorkbookRecording>();
        QObject::connect(book_.get(), &WorkbookRecording::bookSaved, book_.get(),
                         [this](const QString& path) { books_ << path; });
        QObject::connect(book_.get(), &WorkbookRecording::writeFailed, book_.get(),
                         [this](const RecordingError& e) { bookErrors_ << e.message; });
        if (auto e = book_->start(fileBooks(xlsxPath))) {
            book_.reset();
            discard();
            return e->message;
        }
    }
    return std::nullopt;
}

void ModuleFiles::discard()
{
    if (csv_.isOpen()) csv_.remove();
    if (book_ && book_->isOpen()) {
        const QFileInfo book(book_->bookPath());
        book_->close();
        QFile::remove(book.dir().filePath(RowJournal::fileNameFor(book.completeBaseName())));
    }
    book_.reset();
}

// The system's words for a failed write: QFile has none for some (a full disk).
void ModuleFiles::writeCsv(const QByteArray& bytes, QStringList& errors)
{
    errno = 0;
    const bool written = csv_.write(bytes) == bytes.size() && csv_.flush();
    if (!written && !csvFailing_) {
        const int error = errno;
        const QString cause =
            error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : csv_.errorString();
        errors << QStringLiteral("%1: %2").arg(csv_.fileName(), cause);
    }
    csvFailing_ = !written;
}

void ModuleFiles::append(const modbus::Reading& r, QStringList& errors, bool afterGap)
{
    if (csv_.isOpen()) {
        const QString row = reader::csvRow(discharge::sampleOf(r)) + u'\n';
        writeCsv((afterGap ? u'\n' + row : row).toUtf8(), errors);
    }
    if (book_ && book_->isOpen()) {
        if (auto e = book_->append(rowFromReading(r, r.time))) errors << e->message;
    }
    errors << bookErrors_;
    bookErrors_.clear();
}

QStringList ModuleFiles::close(QStringList& errors)
{
    QStringList complete;
    if (csv_.isOpen()) {
        const bool synced = csv_.flush() && ::fdatasync(csv_.handle()) == 0;
        csv_.close();
        if (synced && !csvFailing_)
            complete << csv_.fileName();
        else
            errors << QStringLiteral("%1: not every row was written").arg(csv_.fileName());
    }
    if (book_) {
        if (auto e = book_->save()) errors << e->message;
        complete << books_;
        books_.clear();
        book_.reset();
    }
    return complete;
}

} // namespace eload::cli
