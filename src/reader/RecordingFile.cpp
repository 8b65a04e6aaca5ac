#include "reader/RecordingFile.h"

#include "discharge/TestModel.h"
#include "reader/ReadErrors.h"

#include <QFileInfo>

namespace eload::reader {

ReadError readError(const QString& path, const QString& what)
{
    return {QStringLiteral("%1: %2").arg(path, what)};
}

QString badCellText(qint64 row, const QString& column, const QString& name, const QString& text)
{
    return QStringLiteral("第 %1 行 %2 列（%3）的值“%4”无法识别")
        .arg(row)
        .arg(column, name, text.left(40));
}

QString tooManyRowsText() { return QStringLiteral("记录超过 %1 行的上限").arg(kMaxRows); }

ReadResult readRecording(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xlsx") return readWorkbook(path);
    if (suffix == u"csv") return readCsv(path);
    return readError(path, QStringLiteral("不支持的文件类型（应为 .xlsx 或 .csv）"));
}

Summary summarize(const RecordedCurve& curve)
{
    return discharge::summarize(curve.samples, curve.hasStatus);
}

} // namespace eload::reader
