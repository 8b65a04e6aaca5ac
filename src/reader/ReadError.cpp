// The texts of a read's failures: Chinese for the windows (as they have always
// read), English for eload-cli.

#include "core/Texts.h"
#include "reader/RecordingFile.h"

#include <array>

namespace eload::reader {

namespace {

constexpr std::array<const char*, 10> kEnglishColumns = {
    "number",      "time",       "current",  "voltage", "power",
    "temperature", "resistance", "capacity", "energy",  "discharge time"};

// "A" for column 1, "AA" for 27: as a spreadsheet names columns.
QString columnLetters(int column)
{
    QString letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.prepend(QChar(u'A' + (column - 1) % 26));
    return letters;
}

// A cell's text in a message: long ones cut, so that a line stays a line.
QString shown(const QString& found) { return found.left(40); }

QString chineseColumnName(const ReadError& e)
{
    if (!e.field.isEmpty()) return e.field;
    return e.column >= 1 && e.column <= texts::kRecordHeader.size()
               ? texts::kRecordHeader[e.column - 1]
               : QString();
}

QString englishColumnName(const ReadError& e)
{
    if (!e.field.isEmpty()) return e.field;
    return e.column >= 1 && e.column <= int(kEnglishColumns.size())
               ? QString::fromLatin1(kEnglishColumns[std::size_t(e.column - 1)])
               : QString();
}

QString chineseWhat(const ReadError& e)
{
    using P = ReadProblem;
    switch (e.problem) {
    case P::NoSuchFile: return QStringLiteral("文件不存在");
    case P::CannotOpen: return QStringLiteral("无法打开文件（%1）").arg(e.reason);
    case P::EmptyFile: return QStringLiteral("文件为空");
    case P::UnsupportedType: return QStringLiteral("不支持的文件类型（应为 .xlsx 或 .csv）");
    case P::FileTooLarge: return QStringLiteral("文件超过 %1 MiB 的上限").arg(kMaxCsvBytes >> 20);
    case P::ReadFailed: return QStringLiteral("读取出错（%1）").arg(e.reason);
    case P::NotZip: return QStringLiteral("不是 xlsx 工作簿（不是 zip 文件）");
    case P::Damaged:
        return e.part.isEmpty() ? QStringLiteral("文件不完整或已损坏（找不到 zip 目录）")
                                : QStringLiteral("文件不完整或已损坏（读取 %1 出错）").arg(e.part);
    case P::MissingPart: return QStringLiteral("不是 xlsx 工作簿（缺少 %1）").arg(e.part);
    case P::PartTooLarge:
        return QStringLiteral("%1 解压后超过 %2 MiB 的上限，不予读取")
            .arg(e.part)
            .arg(kMaxEntryBytes >> 20);
    case P::ZipBomb:
        return QStringLiteral("%1 的压缩比超过 %2 比 1（疑为压缩炸弹），不予读取")
            .arg(e.part)
            .arg(kMaxCompressionRatio);
    case P::BadXml:
        return QStringLiteral("%1 不是完整的 XML（第 %2 行：%3）")
            .arg(e.part)
            .arg(e.row)
            .arg(e.reason);
    case P::TooDeep:
        return QStringLiteral("%1 的元素嵌套超过 %2 层，不予读取").arg(e.part).arg(kMaxDepth);
    case P::TextTooLong:
        return e.row > 0 ? QStringLiteral("第 %1 行 %2 列的文字超过 %3 个字符，不予读取")
                               .arg(e.row)
                               .arg(columnLetters(e.column))
                               .arg(kMaxTextChars)
                         : QStringLiteral("%1 中有文字超过 %2 个字符，不予读取")
                               .arg(e.part)
                               .arg(kMaxTextChars);
    case P::ElementTooLarge:
        return QStringLiteral("%1 中有元素超过 %2 MiB，不予读取")
            .arg(e.part)
            .arg(kMaxParserBytes >> 20);
    case P::NoSheet: return QStringLiteral("%1 中没有工作表").arg(e.part);
    case P::SheetNotFound:
        return QStringLiteral("%1 中找不到第一张工作表（%2）").arg(e.part, e.found);
    case P::TooManySharedStrings:
        return QStringLiteral("共享字符串超过上限（%1 个或 %2 字节），不予读取")
            .arg(kMaxSharedStrings)
            .arg(kMaxSharedBytes);
    case P::BadSharedString:
        return QStringLiteral("第 %1 行引用的共享字符串“%2”不存在").arg(e.row).arg(shown(e.found));
    case P::BadRowNumber: return QStringLiteral("行号“%1”无效").arg(shown(e.found));
    case P::BadCellReference: return QStringLiteral("单元格引用“%1”无效").arg(shown(e.found));
    case P::EmptySheet: return QStringLiteral("工作表是空的");
    case P::NotOurHeader:
        return QStringLiteral("不是本程序的记录：第 %1 行应为表头“%2”，实为“%3”")
            .arg(e.row)
            .arg(texts::kRecordHeader.join(u' '), e.found);
    case P::NotOurCsv:
        return QStringLiteral("不是本程序的 CSV 记录：第 1 行应为“%1”").arg(csvHeader());
    case P::LineTooLong: return QStringLiteral("第 %1 行过长").arg(e.row);
    case P::FieldCount:
        return QStringLiteral("第 %1 行应有 %2 列，实有 %3 列").arg(e.row).arg(e.expected, e.found);
    case P::BadCell:
        return QStringLiteral("第 %1 行 %2 列（%3）的值“%4”无法识别")
            .arg(e.row)
            .arg(columnLetters(e.column), chineseColumnName(e), shown(e.found));
    case P::TooManyRows: return QStringLiteral("记录超过 %1 行的上限").arg(kMaxRows);
    case P::TornLastRow:
        return QStringLiteral("第 %1 行不完整（文件在该行中间结束），已跳过").arg(e.row);
    case P::OutOfMemory: return QStringLiteral("内存不足，无法读取");
    case P::Unexpected: return QStringLiteral("读取失败（%1）").arg(e.reason);
    }
    return {};
}

QString englishWhat(const ReadError& e)
{
    using P = ReadProblem;
    switch (e.problem) {
    case P::NoSuchFile: return QStringLiteral("no such file");
    case P::CannotOpen: return QStringLiteral("cannot be opened (%1)").arg(e.reason);
    case P::EmptyFile: return QStringLiteral("the file is empty");
    case P::UnsupportedType: return QStringLiteral("not a recording: .xlsx or .csv expected");
    case P::FileTooLarge:
        return QStringLiteral("larger than the limit of %1 MiB").arg(kMaxCsvBytes >> 20);
    case P::ReadFailed: return QStringLiteral("read error (%1)").arg(e.reason);
    case P::NotZip: return QStringLiteral("not an .xlsx workbook (not a zip file)");
    case P::Damaged:
        return e.part.isEmpty()
                   ? QStringLiteral("incomplete or damaged (no zip directory)")
                   : QStringLiteral("incomplete or damaged (error reading %1)").arg(e.part);
    case P::MissingPart: return QStringLiteral("not an .xlsx workbook (no %1)").arg(e.part);
    case P::PartTooLarge:
        return QStringLiteral("%1 is larger than %2 MiB uncompressed; not read")
            .arg(e.part)
            .arg(kMaxEntryBytes >> 20);
    case P::ZipBomb:
        return QStringLiteral("%1 is compressed more than %2 to 1 (a zip bomb?); not read")
            .arg(e.part)
            .arg(kMaxCompressionRatio);
    case P::BadXml:
        return QStringLiteral("%1 is not well-formed XML (line %2: %3)")
            .arg(e.part)
            .arg(e.row)
            .arg(e.reason);
    case P::TooDeep:
        return QStringLiteral("%1 nests elements deeper than %2 levels; not read")
            .arg(e.part)
            .arg(kMaxDepth);
    case P::TextTooLong:
        return e.row > 0 ? QStringLiteral("row %1, column %2: a text longer than %3 characters; "
                                          "not read")
                               .arg(e.row)
                               .arg(columnLetters(e.column))
                               .arg(kMaxTextChars)
                         : QStringLiteral("%1 holds a text longer than %2 characters; not read")
                               .arg(e.part)
                               .arg(kMaxTextChars);
    case P::ElementTooLarge:
        return QStringLiteral("%1 holds an element larger than %2 MiB; not read")
            .arg(e.part)
            .arg(kMaxParserBytes >> 20);
    case P::NoSheet: return QStringLiteral("%1 names no worksheet").arg(e.part);
    case P::SheetNotFound:
        return QStringLiteral("%1 does not name the first worksheet (%2)").arg(e.part, e.found);
    case P::TooManySharedStrings:
        return QStringLiteral("more than %1 shared strings or %2 bytes of them; not read")
            .arg(kMaxSharedStrings)
            .arg(kMaxSharedBytes);
    case P::BadSharedString:
        return QStringLiteral("row %1 refers to shared string \"%2\", which does not exist")
            .arg(e.row)
            .arg(shown(e.found));
    case P::BadRowNumber:
        return QStringLiteral("row number \"%1\" is not valid").arg(shown(e.found));
    case P::BadCellReference:
        return QStringLiteral("cell reference \"%1\" is not valid").arg(shown(e.found));
    case P::EmptySheet: return QStringLiteral("the worksheet is empty");
    case P::NotOurHeader:
        return QStringLiteral("not a recording of the panel: row %1 should be the header \"%2\", "
                              "it is \"%3\"")
            .arg(e.row)
            .arg(texts::kRecordHeader.join(u' '), e.found);
    case P::NotOurCsv:
        return QStringLiteral("not a CSV log of the panel or of watch --csv: line 1 should be "
                              "\"%1\" (or \"address,\" and that)")
            .arg(csvHeader());
    case P::LineTooLong: return QStringLiteral("line %1 is too long").arg(e.row);
    case P::FieldCount:
        return QStringLiteral("line %1 should have %2 fields, it has %3")
            .arg(e.row)
            .arg(e.expected, e.found);
    case P::BadCell:
        return QStringLiteral("%1 %2, column %3 (%4): \"%5\" is not a value")
            .arg(e.field.isEmpty() ? QStringLiteral("row") : QStringLiteral("line"))
            .arg(e.row)
            .arg(columnLetters(e.column), englishColumnName(e), shown(e.found));
    case P::TooManyRows: return QStringLiteral("more than %1 rows").arg(kMaxRows);
    case P::TornLastRow:
        return QStringLiteral("line %1 is incomplete (the file ends inside it, as after a full "
                              "disk); skipped")
            .arg(e.row);
    case P::OutOfMemory: return QStringLiteral("not enough memory to read it");
    case P::Unexpected: return QStringLiteral("reading failed (%1)").arg(e.reason);
    }
    return {};
}

} // namespace

QString ReadError::message() const
{
    return QStringLiteral("%1: %2").arg(file, chineseWhat(*this));
}

QString ReadError::englishMessage() const
{
    return QStringLiteral("%1: %2").arg(file, englishWhat(*this));
}

} // namespace eload::reader
