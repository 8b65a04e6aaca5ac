#pragma once
// Spreadsheet written with libxlsxwriter in constant-memory mode: each row goes
// to a scratch file as soon as the next one starts, so memory does not grow
// with the number of rows. The book is assembled under a hidden part name in
// the scratch folder and renamed into place only when complete.

#include "recording/Spreadsheet.h"

#include <QByteArray>

struct lxw_workbook;
struct lxw_worksheet;

namespace eload {

class XlsxSpreadsheet : public Spreadsheet {
public:
    explicit XlsxSpreadsheet(QString scratchFolder);
    ~XlsxSpreadsheet() override;

    std::optional<SheetError> newBook() override;
    std::optional<SheetError> setText(int row, int column, const QString& text) override;
    std::optional<SheetError> setNumber(int row, int column, double value) override;
    std::optional<SheetError> saveAs(const QString& fileName) override;
    void close() override;
    QString extension() const override;

    // Name pattern of the part files, for clearing those a crash left behind.
    static QString partFilePattern();

private:
    std::optional<SheetError> cellResult(int error, int row, int column) const;
    std::optional<SheetError> scratchResult() const;
    void discardPart();

    QString scratchFolder_;
    QByteArray scratchFolder8bit_; // libxlsxwriter keeps the pointer
    QString partPath_;
    lxw_workbook* book_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
};

} // namespace eload
