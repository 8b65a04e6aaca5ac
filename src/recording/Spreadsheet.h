#pragma once
// The spreadsheet component behind the recording: a new book with one
// worksheet, cells by row and column (from 1, as the automation counts them),
// the book saved under a full path and closed. Errors come back as values.

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace eload {

struct SheetError {
    QString message;
};

class Spreadsheet {
public:
    virtual ~Spreadsheet() = default;

    virtual std::optional<SheetError> newBook() = 0;
    // Rows are written top to bottom; a row above the last one written is refused.
    virtual std::optional<SheetError> setText(int row, int column, const QString& text) = 0;
    virtual std::optional<SheetError> setNumber(int row, int column, double value) = 0;
    // `fileName` is a full path without extension; the book's format adds its own.
    // The file appears under its name only once it is complete.
    virtual std::optional<SheetError> saveAs(const QString& fileName) = 0;
    // Drops the book; one that was not saved leaves nothing behind.
    virtual void close() = 0;
    virtual QString extension() const = 0;
};

// Makes a spreadsheet whose scratch files go to `folder`, the folder it will be saved in.
using SpreadsheetFactory = std::function<std::unique_ptr<Spreadsheet>(const QString& folder)>;

} // namespace eload
