#include "core/Causes.h"

#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstring>

namespace eload::causes {

namespace {

struct SystemCause {
    int error;
    const char16_t* chinese;
};

// The errors a file, a folder or a serial device can end in here.
constexpr SystemCause kSystemCauses[] = {
    {ENOENT, u"文件或文件夹不存在"},
    {EACCES, u"没有访问权限"},
    {EPERM, u"操作不被允许"},
    {EROFS, u"文件系统是只读的"},
    {ENOSPC, u"磁盘空间已满"},
    {EDQUOT, u"超出磁盘配额"},
    {EEXIST, u"同名文件已存在"},
    {ENOTDIR, u"路径中有一部分不是文件夹"},
    {EISDIR, u"同名的文件夹已存在"},
    {EIO, u"输入/输出错误（磁盘或设备故障，或设备已断开）"},
    {EBUSY, u"设备或资源正忙"},
    {ENAMETOOLONG, u"文件名过长"},
    {EMFILE, u"程序打开的文件过多"},
    {ENFILE, u"系统打开的文件过多"},
    {ENOMEM, u"内存不足"},
    {ENODEV, u"设备不存在"},
    {ENXIO, u"设备不存在或未连接"},
    {ELOOP, u"符号链接层数过多"},
    {EXDEV, u"不能跨文件系统移动文件"},
    {EFBIG, u"文件过大"},
    {ETXTBSY, u"文件正被使用"},
    {EAGAIN, u"资源暂时不可用"},
    {ETIMEDOUT, u"操作超时"},
    {EINVAL, u"参数无效"},
    {ENOTTY, u"不是串口设备"},
};

// The recording's and libxlsxwriter's own words; %1 is carried over.
struct OwnCause {
    const char16_t* english;
    const char16_t* chinese;
};

constexpr OwnCause kOwnCauses[] = {
    {u"folder does not exist", u"文件夹不存在"},
    {u"folder %1 does not exist", u"文件夹 %1 不存在"},
    {u"in use by another instance", u"正被另一个运行中的程序使用"},
    {u"no folder for recordings", u"没有可以存放记录的文件夹"},
    {u"every name for %1 is taken", u"%1 的所有编号文件名都已被占用"},
    {u"%1 exists already", u"%1 已存在"},
    {u"still recording", u"仍在记录中"},
    {u"journal not open", u"记录暂存文件未打开"},
    {u"no workbook open", u"没有打开的工作簿"},
    {u"cannot start a workbook", u"无法创建工作簿"},
    {u"cannot create the worksheet's scratch file in %1", u"无法在 %1 中创建工作表临时文件"},
    {u"cannot write the worksheet's scratch file in %1",
     u"无法写入 %1 中的工作表临时文件（磁盘可能已满）"},
    {u"Error creating output xlsx file. Usually a permissions error.",
     u"无法创建 xlsx 文件（通常是没有写入权限）"},
    {u"Error encountered when creating a tmpfile during file assembly.",
     u"生成工作簿时无法创建临时文件"},
    {u"Error reading a tmpfile.", u"生成工作簿时无法读取临时文件"},
    {u"Zip generic error ZIP_ERRNO while creating the xlsx file.",
     u"压缩生成 xlsx 文件时出错（磁盘可能已满）"},
    {u"Memory error, failed to malloc() required memory.", u"内存不足"},
};

QString systemCause(const QString& cause)
{
    for (const SystemCause& c : kSystemCauses)
        if (cause == QString::fromLocal8Bit(std::strerror(c.error)))
            return QString::fromUtf16(c.chinese);
    return {};
}

QString ownCause(const QString& cause)
{
    for (const OwnCause& c : kOwnCauses) {
        const QString english = QString::fromUtf16(c.english);
        const QString chinese = QString::fromUtf16(c.chinese);
        if (!english.contains(QLatin1String("%1"))) {
            if (cause == english) return chinese;
            continue;
        }
        const QStringList sides = english.split(QStringLiteral("%1"));
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(sides[0]) + "(.+)" + QRegularExpression::escape(sides[1])));
        if (const auto m = pattern.match(cause); m.hasMatch()) return chinese.arg(m.captured(1));
    }
    return {};
}

// A line's cause in Chinese: the whole line, else what follows its last ": ".
QString chineseLine(const QString& line)
{
    if (QString whole = chinese(line); !whole.isEmpty()) return whole;
    const qsizetype colon = line.lastIndexOf(QStringLiteral(": "));
    if (colon < 0) return line;
    const QString tail = chinese(line.mid(colon + 2));
    return tail.isEmpty() ? line : line.left(colon + 2) + tail;
}

} // namespace

QString chinese(const QString& cause)
{
    const QString system = systemCause(cause);
    return system.isEmpty() ? ownCause(cause) : system;
}

QString inChinese(const QString& detail)
{
    QStringList lines = detail.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = chineseLine(line);
    return lines.join(QLatin1Char('\n'));
}

} // namespace eload::causes
