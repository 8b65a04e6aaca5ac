// The panel's workbooks read back: the zip through minizip's unzip, the parts
// through QXmlStreamReader, streamed, every entry capped in size.
//
// Not QuaZip: it exports its own, changed copy of minizip's functions under
// the same names, and libxlsxwriter (the recording, in the same programs)
// calls minizip; whichever library loads first takes the other's calls.

#include "core/Texts.h"
#include "modbus/Formats.h"
#include "reader/ReadErrors.h"
#include "reader/RecordingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QXmlStreamReader>
#include <unzip.h>

#include <array>
#include <climits>
#include <cmath>
#include <functional>

namespace eload::reader {

namespace {

constexpr int kBookColumns = 10;
constexpr qint64 kMaxSharedChars = 64ll << 20;
constexpr qsizetype kMaxSharedStrings = 8 << 20;
const QString kWorkbookPart = QStringLiteral("xl/workbook.xml");
const QString kWorkbookRels = QStringLiteral("xl/_rels/workbook.xml.rels");

struct Cell {
    QString text;
    bool number = false; // a numeric cell; `text` holds its value as written
};
using Cells = std::array<Cell, kBookColumns>;
using Failure = std::optional<QString>; // what was wrong, if anything

// The archive, closed with its owner.
class ZipArchive {
public:
    explicit ZipArchive(const QString& path) : zip_(unzOpen64(QFile::encodeName(path).constData()))
    {
    }
    ~ZipArchive()
    {
        if (zip_) unzClose(zip_);
    }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool isOpen() const { return zip_ != nullptr; }
    // Part names compare without regard to case, as the package format has it.
    bool locate(const QString& part) const
    {
        return zip_ && unzLocateFile(zip_, part.toUtf8().constData(), 2) == UNZ_OK;
    }
    unzFile handle() const { return zip_; }
    // Of the located entry, as the zip's directory declares it.
    quint64 declaredSize() const
    {
        unz_file_info64 info{};
        unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0);
        return info.uncompressed_size;
    }

private:
    unzFile zip_;
};

// The located zip entry seen through a cap on its uncompressed size, so that
// a zip bomb ends in a message instead of exhausting memory.
class CappedEntry : public QIODevice {
public:
    CappedEntry(unzFile zip, qint64 cap) : zip_(zip), cap_(cap)
    {
        entryOpen_ = unzOpenCurrentFile(zip_) == UNZ_OK;
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    ~CappedEntry() override { finish(); }
    bool entryOpen() const { return entryOpen_; }
    bool exceeded() const { return exceeded_; }
    bool failed() const { return failed_; }
    bool isSequential() const override { return true; }
    // Closes the entry; false when its checksum (checked once it was read whole) is wrong.
    bool finish()
    {
        if (!entryOpen_) return true;
        entryOpen_ = false;
        return unzCloseCurrentFile(zip_) == UNZ_OK;
    }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        if (!entryOpen_) return -1;
        const qint64 want = std::min({max, cap_ - total_ + 1, qint64(INT_MAX)});
        const int n = unzReadCurrentFile(zip_, data, unsigned(want));
        if (n < 0) failed_ = true;
        if (n <= 0) return n < 0 ? -1 : 0;
        total_ += n;
        exceeded_ = total_ > cap_;
        return exceeded_ ? -1 : n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    unzFile zip_;
    qint64 cap_;
    qint64 total_ = 0;
    bool entryOpen_ = false;
    bool exceeded_ = false;
    bool failed_ = false;
};

bool isStart(const QXmlStreamReader& xml, QStringView name)
{
    return xml.isStartElement() && xml.name() == name;
}

bool isEnd(const QXmlStreamReader& xml, QStringView name)
{
    return xml.isEndElement() && xml.name() == name;
}

// The text of the <t> runs up to the end of the element `until` (<si>, <is>),
// phonetic runs left out.
QString runsText(QXmlStreamReader& xml, QStringView until)
{
    QString text;
    while (!xml.atEnd() && !isEnd(xml, until)) {
        xml.readNext();
        if (isStart(xml, u"rPh"))
            xml.skipCurrentElement();
        else if (isStart(xml, u"t"))
            text += xml.readElementText();
    }
    return text;
}

// "D12" -> 4; 0 when it names no column.
int columnOfReference(QStringView ref)
{
    int column = 0;
    for (const QChar c : ref) {
        if (c < u'A' || c > u'Z') break;
        column = column * 26 + (c.unicode() - u'A' + 1);
        if (column > 16384) return 0;
    }
    return column;
}

QString columnLetter(int column) { return QString(QChar(u'A' + column - 1)); }

std::optional<double> numberOf(const Cell& cell, QStringView unit)
{
    if (!cell.number) return modbus::valueOfText(cell.text, unit);
    bool ok = false;
    const double v = QLocale::c().toDouble(cell.text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

// Local wall-clock times to PC time. Converting local time asks the time-zone
// rules (and the file system) each time, so the start of the last hour is kept.
class LocalClock {
public:
    qint64 msecsAt(QDate date, QTime time)
    {
        const qint64 hour = date.toJulianDay() * 24 + time.hour();
        if (hour != hour_) {
            hour_ = hour;
            hourStart_ = QDateTime(date, QTime(time.hour(), 0)).toMSecsSinceEpoch();
        }
        return hourStart_ + (time.msecsSinceStartOfDay() - time.hour() * 3'600'000);
    }

private:
    qint64 hour_ = -1;
    qint64 hourStart_ = 0;
};

// A row's time: the panel's text, or a spreadsheet's date number (days from 1899-12-30).
std::optional<qint64> msecsOf(const Cell& cell, LocalClock& clock)
{
    if (!cell.number) {
        const auto wall = modbus::wallClockOfRowText(cell.text);
        return wall ? std::optional(clock.msecsAt(wall->first, wall->second)) : std::nullopt;
    }
    const auto days = numberOf(cell, {});
    if (!days || *days < 0 || *days > 2958465) return std::nullopt; // up to the year 9999
    const qint64 msecs = std::llround(*days * 86400000.0);
    return clock.msecsAt(QDate(1899, 12, 30).addDays(msecs / 86400000),
                         QTime::fromMSecsSinceStartOfDay(int(msecs % 86400000)));
}

// A spreadsheet's time number is a fraction of a day.
std::optional<int> dischargeSecondsOf(const Cell& cell)
{
    if (!cell.number) return modbus::secondsOfDischargeTimeText(cell.text);
    const auto days = numberOf(cell, {});
    if (!days || *days < 0 || *days > 2730) return std::nullopt; // 65535 h
    return int(std::lround(*days * 86400));
}

struct ValueColumn {
    int column;
    const char16_t* unit;
    double min, max;
};
// Columns 3 to 9, in the order of kRecordHeader.
constexpr std::array<ValueColumn, 7> kValueColumns = {{
    {3, u"A", 0, 655.35},
    {4, u"V", 0, 655.35},
    {5, u"W", 0, 655.35},
    {6, u"℃", -32768, 32767},
    {7, u"MR", 0, 65535},
    {8, u"AH", 0, 4294967.295},
    {9, u"WH", 0, 4294967.295},
}};

// The sample of one data row; else the column (from 1) that did not parse.
int parseRow(const Cells& cells, LocalClock& clock, Sample& s)
{
    const auto msecs = msecsOf(cells[1], clock);
    if (!msecs) return 2;
    s.msecs = *msecs;
    std::array<double, kValueColumns.size()> v{};
    for (std::size_t i = 0; i < kValueColumns.size(); ++i) {
        const ValueColumn& c = kValueColumns[i];
        const auto value = numberOf(cells[c.column - 1], c.unit);
        if (!value || *value < c.min || *value > c.max) return c.column;
        v[i] = *value;
    }
    const auto seconds = dischargeSecondsOf(cells[9]);
    if (!seconds) return 10;
    s.current = float(v[0]);
    s.voltage = float(v[1]);
    s.power = float(v[2]);
    s.temperatureC = std::uint16_t(std::lround(v[3]));
    s.resistanceMilliohm = std::uint16_t(std::lround(v[4]));
    s.capacityAh = v[5];
    s.energyWh = v[6];
    s.dischargeSeconds = *seconds;
    s.loadOn = s.current > 0; // the workbook holds no load state
    return 0;
}

class WorkbookReader {
public:
    explicit WorkbookReader(QString path) : path_(std::move(path)), zip_(path_) {}
    ReadResult read();

private:
    using PartParser = std::function<Failure(QXmlStreamReader&)>;

    Failure open();
    Failure readPart(const QString& part, const PartParser& parse);
    Failure parseWorkbook(QXmlStreamReader& xml);
    Failure parseRelationships(QXmlStreamReader& xml);
    Failure parseSharedStrings(QXmlStreamReader& xml);
    Failure parseSheet(QXmlStreamReader& xml);
    Failure readCell(QXmlStreamReader& xml, qint64 row, Cell& cell);
    Failure takeRow(qint64 row, const Cells& cells);

    QString path_;
    ZipArchive zip_;
    QString sheetId_, sheetPart_, sharedPart_;
    QStringList shared_;
    qint64 sharedChars_ = 0;
    bool headerSeen_ = false;
    LocalClock clock_;
    RecordedCurve curve_;
};

Failure WorkbookReader::open()
{
    if (zip_.isOpen()) return std::nullopt;
    QFile file(path_);
    if (!file.exists()) return QStringLiteral("文件不存在");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("无法打开文件（%1）").arg(file.errorString());
    const QByteArray head = file.read(4);
    if (head.isEmpty()) return QStringLiteral("文件为空");
    if (head.startsWith("PK")) return QStringLiteral("文件不完整或已损坏（找不到 zip 目录）");
    return QStringLiteral("不是 xlsx 工作簿（不是 zip 文件）");
}

Failure WorkbookReader::readPart(const QString& part, const PartParser& parse)
{
    if (!zip_.locate(part)) return QStringLiteral("不是 xlsx 工作簿（缺少 %1）").arg(part);
    const QString broken = QStringLiteral("文件不完整或已损坏（读取 %1 出错）").arg(part);
    const QString tooLarge =
        QStringLiteral("%1 解压后超过 %2 MiB 的上限，不予读取").arg(part).arg(kMaxEntryBytes >> 20);
    // The declared size first; the count while reading guards against a lie.
    if (zip_.declaredSize() > quint64(kMaxEntryBytes)) return tooLarge;
    CappedEntry entry(zip_.handle(), kMaxEntryBytes);
    if (!entry.entryOpen()) return broken;
    QXmlStreamReader xml(&entry);
    const Failure failure = parse(xml);
    if (entry.exceeded()) return tooLarge;
    if (entry.failed()) return broken;
    if (failure) return failure;
    if (xml.hasError())
        return QStringLiteral("%1 不是完整的 XML（第 %2 行：%3）")
            .arg(part)
            .arg(xml.lineNumber())
            .arg(xml.errorString());
    if (!entry.finish()) return broken;
    return std::nullopt;
}

Failure WorkbookReader::parseWorkbook(QXmlStreamReader& xml)
{
    while (!xml.atEnd()) {
        xml.readNext();
        if (!isStart(xml, u"sheet")) continue;
        for (const QXmlStreamAttribute& a : xml.attributes())
            if (a.name() == u"id" && !a.namespaceUri().isEmpty()) sheetId_ = a.value().toString();
        if (sheetId_.isEmpty()) break;
        return std::nullopt;
    }
    if (xml.hasError()) return std::nullopt; // reported by readPart
    return QStringLiteral("%1 中没有工作表").arg(kWorkbookPart);
}

// Targets are relative to xl/, or absolute in the package.
Failure WorkbookReader::parseRelationships(QXmlStreamReader& xml)
{
    const auto partOf = [](QStringView target) {
        if (target.startsWith(u'/')) return QDir::cleanPath(target.mid(1).toString());
        return QDir::cleanPath(QStringLiteral("xl/") + target.toString());
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (!isStart(xml, u"Relationship")) continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.value(QLatin1String("Id")) == sheetId_)
            sheetPart_ = partOf(a.value(QLatin1String("Target")));
        if (a.value(QLatin1String("Type")).endsWith(u"/sharedStrings"))
            sharedPart_ = partOf(a.value(QLatin1String("Target")));
    }
    if (sheetPart_.isEmpty() && !xml.hasError())
        return QStringLiteral("%1 中找不到第一张工作表（%2）").arg(kWorkbookRels, sheetId_);
    return std::nullopt;
}

Failure WorkbookReader::parseSharedStrings(QXmlStreamReader& xml)
{
    while (!xml.atEnd()) {
        xml.readNext();
        if (!isStart(xml, u"si")) continue;
        shared_.append(runsText(xml, u"si"));
        sharedChars_ += shared_.back().size();
        if (shared_.size() > kMaxSharedStrings || sharedChars_ > kMaxSharedChars)
            return QStringLiteral("共享字符串超过上限（%1 个或 %2 个字符），不予读取")
                .arg(kMaxSharedStrings)
                .arg(kMaxSharedChars);
    }
    return std::nullopt;
}

Failure WorkbookReader::readCell(QXmlStreamReader& xml, qint64 row, Cell& cell)
{
    const QString type = xml.attributes().value(QLatin1String("t")).toString();
    QString value, inlineText;
    while (!xml.atEnd() && !isEnd(xml, u"c")) {
        xml.readNext();
        if (isStart(xml, u"v"))
            value = xml.readElementText();
        else if (isStart(xml, u"is"))
            inlineText = runsText(xml, u"is");
        else if (xml.isStartElement())
            xml.skipCurrentElement(); // formulas, extensions
    }
    cell = {};
    if (type == u"s") {
        bool ok = false;
        const qsizetype index = value.toLongLong(&ok);
        if (!ok || index < 0 || index >= shared_.size())
            return QStringLiteral("第 %1 行引用的共享字符串“%2”不存在").arg(row).arg(value);
        cell.text = shared_[index];
    } else if (type == u"inlineStr") {
        cell.text = inlineText;
    } else {
        cell.text = value;
        cell.number = type.isEmpty() || type == u"n";
    }
    return std::nullopt;
}

Failure WorkbookReader::parseSheet(QXmlStreamReader& xml)
{
    Cells cells;
    qint64 row = 0;
    int column = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (isStart(xml, u"row")) {
            const QXmlStreamAttributes a = xml.attributes();
            const QStringView r = a.value(QLatin1String("r"));
            row = r.isEmpty() ? row + 1 : r.toLongLong();
            if (row <= 0) return QStringLiteral("行号“%1”无效").arg(r);
            cells = {};
            column = 0;
        } else if (isStart(xml, u"c")) {
            const QXmlStreamAttributes a = xml.attributes();
            const QStringView ref = a.value(QLatin1String("r"));
            column = ref.isEmpty() ? column + 1 : columnOfReference(ref);
            if (column <= 0) return QStringLiteral("单元格引用“%1”无效").arg(ref);
            Cell cell;
            if (auto failure = readCell(xml, row, cell)) return failure;
            if (column <= kBookColumns) cells[column - 1] = std::move(cell);
        } else if (isEnd(xml, u"row")) {
            if (auto failure = takeRow(row, cells)) return failure;
        }
    }
    if (!headerSeen_ && !xml.hasError()) return QStringLiteral("工作表是空的");
    return std::nullopt;
}

Failure WorkbookReader::takeRow(qint64 row, const Cells& cells)
{
    const auto filled = [](const Cell& c) { return !c.text.trimmed().isEmpty(); };
    if (!headerSeen_) {
        QStringList header;
        for (const Cell& c : cells)
            header << c.text.trimmed();
        if (header != texts::kRecordHeader)
            return QStringLiteral("不是本程序的记录：第 %1 行应为表头“%2”，实为“%3”")
                .arg(row)
                .arg(texts::kRecordHeader.join(u' '), header.join(u' ').trimmed());
        headerSeen_ = true;
        return std::nullopt;
    }
    if (std::none_of(cells.begin() + 1, cells.end(), filled)) return std::nullopt;
    if (qsizetype(curve_.samples.size()) >= kMaxRows) return tooManyRowsText();
    Sample s;
    if (const int bad = parseRow(cells, clock_, s))
        return badCellText(row, columnLetter(bad), texts::kRecordHeader[bad - 1],
                           cells[bad - 1].text);
    curve_.samples.push_back(s);
    return std::nullopt;
}

ReadResult WorkbookReader::read()
{
    curve_.name = QFileInfo(path_).completeBaseName();
    curve_.hasStatus = false;
    const auto bind = [this](Failure (WorkbookReader::*parse)(QXmlStreamReader&)) {
        return [this, parse](QXmlStreamReader& xml) { return (this->*parse)(xml); };
    };
    Failure failure = open();
    if (!failure) failure = readPart(kWorkbookPart, bind(&WorkbookReader::parseWorkbook));
    if (!failure) failure = readPart(kWorkbookRels, bind(&WorkbookReader::parseRelationships));
    if (!failure && sharedPart_.isEmpty() && zip_.locate(QStringLiteral("xl/sharedStrings.xml")))
        sharedPart_ = QStringLiteral("xl/sharedStrings.xml");
    if (!failure && !sharedPart_.isEmpty())
        failure = readPart(sharedPart_, bind(&WorkbookReader::parseSharedStrings));
    if (!failure) failure = readPart(sheetPart_, bind(&WorkbookReader::parseSheet));
    if (failure) return readError(path_, *failure);
    return std::move(curve_);
}

} // namespace

ReadResult readWorkbook(const QString& path) { return WorkbookReader(path).read(); }

} // namespace eload::reader
