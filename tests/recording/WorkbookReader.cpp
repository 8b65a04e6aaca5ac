#include "WorkbookReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace eload::test {

namespace {

QVariant cellValue(const QJsonValue& v)
{
    const QJsonObject o = v.toObject();
    if (o.contains(QStringLiteral("n"))) return o.value(QStringLiteral("n")).toDouble();
    if (o.contains(QStringLiteral("s"))) return o.value(QStringLiteral("s")).toString();
    return {};
}

QList<SheetRow> rowsOf(const QJsonArray& rows)
{
    QList<SheetRow> out;
    for (const QJsonValue& r : rows) {
        SheetRow row;
        for (const QJsonValue& c : r.toArray())
            row.append(cellValue(c));
        out.append(row);
    }
    return out;
}

} // namespace

std::optional<ReadWorkbook> readWorkbook(const QString& path, int edge)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(READ_WORKBOOK_PY), path, QString::number(edge)});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        qWarning("reading %s failed: %s", qPrintable(path),
                 python.readAllStandardError().constData());
        return std::nullopt;
    }
    const QJsonObject o = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    ReadWorkbook book;
    for (const QJsonValue& s : o.value(QStringLiteral("sheets")).toArray())
        book.sheets.append(s.toString());
    book.count = o.value(QStringLiteral("count")).toInt();
    book.head = rowsOf(o.value(QStringLiteral("head")).toArray());
    book.tail = rowsOf(o.value(QStringLiteral("tail")).toArray());
    return book;
}

SheetRow sheetRow(int number, const QStringList& texts)
{
    SheetRow row{double(number)};
    for (const QString& t : texts)
        row.append(t);
    return row;
}

} // namespace eload::test
