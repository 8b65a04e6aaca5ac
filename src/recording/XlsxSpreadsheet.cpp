#include "recording/XlsxSpreadsheet.h"

#include "recording/FileSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cstdio>
#include <xlsxwriter.h>

namespace eload {

namespace {

SheetError lxwError(lxw_error e, const QString& what)
{
    return {what + QStringLiteral(": ") + QString::fromUtf8(lxw_strerror(e))};
}

} // namespace

XlsxSpreadsheet::XlsxSpreadsheet(QString scratchFolder)
    : scratchFolder_(std::move(scratchFolder)),
      scratchFolder8bit_(QFile::encodeName(QDir::toNativeSeparators(scratchFolder_)))
{
}

XlsxSpreadsheet::~XlsxSpreadsheet() { close(); }

QString XlsxSpreadsheet::partFilePattern() { return QStringLiteral(".~eload-*.xlsx.part"); }

QString XlsxSpreadsheet::extension() const { return QStringLiteral(".xlsx"); }

std::optional<SheetError> XlsxSpreadsheet::newBook()
{
    close();
    if (!QDir(scratchFolder_).exists())
        return SheetError{QStringLiteral("folder %1 does not exist").arg(scratchFolder_)};
    const QString unique = QUuid::createUuid().toString(QUuid::Id128);
    partPath_ = QDir(scratchFolder_).filePath(QStringLiteral(".~eload-%1.xlsx.part").arg(unique));
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = scratchFolder8bit_.data();
    // The file itself is only opened by workbook_close.
    book_ = workbook_new_opt(QFile::encodeName(partPath_).constData(), &options);
    if (!book_) return SheetError{QStringLiteral("cannot start a workbook")};
    sheet_ = workbook_add_worksheet(book_, nullptr);
    if (!sheet_) {
        close();
        return SheetError{
            QStringLiteral("cannot create the worksheet's scratch file in %1").arg(scratchFolder_)};
    }
    return std::nullopt;
}

std::optional<SheetError> XlsxSpreadsheet::cellResult(int error, int row, int column) const
{
    if (error != LXW_NO_ERROR)
        return lxwError(lxw_error(error), QStringLiteral("cell (%1, %2)").arg(row).arg(column));
    return scratchResult();
}

// libxlsxwriter does not check its writes of finished rows to the scratch
// file; a full disk would silently cut rows out of the saved book.
std::optional<SheetError> XlsxSpreadsheet::scratchResult() const
{
    if (sheet_->optimize_tmpfile && std::ferror(sheet_->optimize_tmpfile))
        return SheetError{QStringLiteral("cannot write the worksheet's scratch file in %1")
                              .arg(QDir::toNativeSeparators(scratchFolder_))};
    return std::nullopt;
}

std::optional<SheetError> XlsxSpreadsheet::setText(int row, int column, const QString& text)
{
    if (!sheet_) return SheetError{QStringLiteral("no workbook open")};
    const QByteArray utf8 = text.toUtf8();
    return cellResult(worksheet_write_string(sheet_, lxw_row_t(row - 1), lxw_col_t(column - 1),
                                             utf8.constData(), nullptr),
                      row, column);
}

std::optional<SheetError> XlsxSpreadsheet::setNumber(int row, int column, double value)
{
    if (!sheet_) return SheetError{QStringLiteral("no workbook open")};
    return cellResult(
        worksheet_write_number(sheet_, lxw_row_t(row - 1), lxw_col_t(column - 1), value, nullptr),
        row, column);
}

std::optional<SheetError> XlsxSpreadsheet::saveAs(const QString& fileName)
{
    if (!book_) return SheetError{QStringLiteral("no workbook open")};
    if (sheet_->optimize_tmpfile) std::fflush(sheet_->optimize_tmpfile);
    if (auto e = scratchResult()) {
        close();
        return e;
    }
    lxw_workbook* book = book_;
    book_ = nullptr; // workbook_close frees it whatever the outcome
    sheet_ = nullptr;
    if (const lxw_error e = workbook_close(book); e != LXW_NO_ERROR) {
        discardPart();
        return lxwError(e, QDir::toNativeSeparators(partPath_));
    }
    // Contents on the disk before the name, so a power loss never leaves a
    // complete-looking name over an empty file.
    if (const auto cause = syncFile(partPath_)) {
        discardPart();
        return SheetError{*cause};
    }
    const QString target = fileName + extension();
    if (std::rename(QFile::encodeName(partPath_).constData(),
                    QFile::encodeName(target).constData()) != 0) {
        const QString cause = lastSystemError();
        discardPart();
        return SheetError{cause};
    }
    partPath_.clear();
    syncFolder(QFileInfo(target).absolutePath());
    return std::nullopt;
}

void XlsxSpreadsheet::close()
{
    // lxw_workbook_free leaves an unsaved sheet's scratch file open.
    if (sheet_ && sheet_->optimize_tmpfile) {
        if (sheet_->file == sheet_->optimize_tmpfile) sheet_->file = nullptr;
        std::fclose(sheet_->optimize_tmpfile);
        sheet_->optimize_tmpfile = nullptr;
    }
    if (book_) lxw_workbook_free(book_);
    book_ = nullptr;
    sheet_ = nullptr;
    discardPart();
}

void XlsxSpreadsheet::discardPart()
{
    if (!partPath_.isEmpty()) QFile::remove(partPath_);
    partPath_.clear();
}

} // namespace eload
