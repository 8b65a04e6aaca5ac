#include "WorkbookReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace eload::test {

std::optional<ReadWorkbook> readWorkbook(const QString& path, int edge)
{
    QProcess python;
    python.start("/usr/bin/python3", {READ_WORKBOOK_PY, path, QString::number(edge)});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        qWarning("reading %s failed: %s", qPrintable(path), python.readAllStandardError().data());
        return std::nullopt;
    }
    const QJsonObject o = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    const auto rows = [&](const char* key) {
        QList<SheetRow> out;
        for (const QJsonValue& r : o.value(key).toArray()) {
            SheetRow& row = out.emplace_back();
            for (const QJsonValue& c : r.toArray())
                row.append(c.isDouble() ? QVariant(c.toDouble()) : c.toVariant());
        }
        return out;
    };
    return ReadWorkbook{o.value("count").toInt(), rows("head"), rows("tail")};
}

} // namespace eload::test
