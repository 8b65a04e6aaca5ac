#include "chart/ExportErrors.h"

#include <QDir>
#include <QFileInfo>

namespace eload::chart {

QString writeErrorText(const QString& path, QFileDevice::FileError error)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    const QString shown = QDir::toNativeSeparators(path);
    if (!folder.exists())
        return QStringLiteral("文件夹不存在：%1").arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("路径中的“%1”不是文件夹")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    if (file.isDir()) return QStringLiteral("已有同名的文件夹：%1").arg(shown);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("文件是只读的，不能覆盖：%1").arg(shown);
    if (!folder.isWritable())
        return QStringLiteral("没有在此文件夹中写入的权限：%1")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    if (error == QFileDevice::WriteError || error == QFileDevice::ResourceError)
        return QStringLiteral("写入失败，磁盘可能已满：%1").arg(shown);
    return QStringLiteral("无法写入文件：%1").arg(shown);
}

} // namespace eload::chart
