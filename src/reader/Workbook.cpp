// The panel's workbooks read back: the zip entries inflated in chunks and fed
// to expat as they come (ZipPackage, BoundedXml), the sheet never held whole;
// what is kept is the samples and the shared strings, both bounded.

#include "core/Texts.h"
#include "modbus/Formats.h"
#include "reader/Blocks.h"
#include "reader/BoundedXml.h"
#include "reader/RecordingFile.h"
#include "reader/ZipPackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <charconv>
#include <cmath>

namespace eload::reader {

namespace {

constexpr int kBookColumns = 10;
const QString kWorkbookPart = QStringLiteral("xl/workbook.xml");
const QString kWorkbookRels = QStringLiteral("xl/_rels/workbook.xml.rels");
const QString kDefaultSharedPart = QStringLiteral("xl/sharedStrings.xml");

ReadError problemOf(ReadProblem problem, qint64 row = 0, int column = 0, QString found = {})
{
    ReadError e;
    e.problem = problem;
    e.row = row;
    e.column = column;
    e.found = std::move(found);
    return e;
}

QString textOf(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::optional<qint64> wholeNumberOf(std::string_view text)
{
    qint64 v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

// The shared strings, UTF-8, in blocks of kPoolBlock bytes with each string
// whole in one block, so that the table never copies itself as it grows.
class SharedStrings {
public:
    // False beyond kMaxSharedStrings or kMaxSharedBytes.
    bool add(std::string_view s)
    {
        if (qsizetype(spans_.size()) >= kMaxSharedStrings ||
            bytes_ + qint64(s.size()) > kMaxSharedBytes)
            return false;
        if (pool_.empty() || pool_.back().size() + s.size() > kPoolBlock) {
            pool_.emplace_back();
            pool_.back().reserve(std::max(kPoolBlock, s.size()));
        }
        spans_.push_back(
            {quint32(pool_.size() - 1), quint32(pool_.back().size()), quint32(s.size())});
        pool_.back().append(s);
        bytes_ += qint64(s.size());
        return true;
    }
    std::optional<std::string_view> at(qint64 index) const
    {
        if (index < 0 || index >= qint64(spans_.size())) return std::nullopt;
        const Span& s = spans_[std::size_t(index)];
        return std::string_view(pool_[s.block]).substr(s.offset, s.length);
    }

private:
    static constexpr std::size_t kPoolBlock = 1 << 20;
    struct Span {
        quint32 block, offset, length;
    };
    std::vector<std::string> pool_;
    Blocks<Span> spans_;
    qint64 bytes_ = 0;
};

// The text of the <t> runs in an element (<si>, <is>), phonetic runs (<rPh>)
// left out. Told each event of the element; `text()` when it has ended.
class RunsText {
public:
    void clear()
    {
        text_.clear();
        inRun_ = false;
        phonetic_ = 0;
    }
    void start(std::string_view name)
    {
        if (name == "rPh")
            ++phonetic_;
        else if (name == "t" && phonetic_ == 0)
            inRun_ = true;
    }
    void end(std::string_view name)
    {
        if (name == "rPh" && phonetic_ > 0)
            --phonetic_;
        else if (name == "t")
            inRun_ = false;
    }
    // False when the text grows beyond kMaxTextChars.
    bool take(std::string_view piece) { return !inRun_ || text_.append(piece); }
    const std::string& text() const { return text_.text(); }

private:
    BoundedText text_;
    bool inRun_ = false;
    int phonetic_ = 0;
};

struct Cell {
    std::string text;
    bool number = false; // a numeric cell; `text` holds its value as written
};
using Cells = std::array<Cell, kBookColumns>;

// "D12" -> 4; 0 when it names no column.
int columnOfReference(std::string_view ref)
{
    int column = 0;
    for (const char c : ref) {
        if (c < 'A' || c > 'Z') break;
        column = column * 26 + (c - 'A' + 1);
        if (column > 16384) return 0;
    }
    return column;
}

std::optional<double> plainNumberOf(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<double> numberOf(const Cell& cell, QStringView unit)
{
    if (!cell.number) return modbus::valueOfText(textOf(cell.text), unit);
    return plainNumberOf(cell.text);
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
        const auto wall = modbus::wallClockOfRowText(textOf(cell.text));
        return wall ? std::optional(clock.msecsAt(wall->first, wall->second)) : std::nullopt;
    }
    const auto days = plainNumberOf(cell.text);
    if (!days || *days < 0 || *days > 2958465) return std::nullopt; // up to the year 9999
    const qint64 msecs = std::llround(*days * 86400000.0);
    return clock.msecsAt(QDate(1899, 12, 30).addDays(msecs / 86400000),
                         QTime::fromMSecsSinceStartOfDay(int(msecs % 86400000)));
}

// A spreadsheet's time number is a fraction of a day.
std::optional<int> dischargeSecondsOf(const Cell& cell)
{
    if (!cell.number) return modbus::secondsOfDischargeTimeText(textOf(cell.text));
    const auto days = plainNumberOf(cell.text);
    if (!days || *days < 0 || *days > 2730) return std::nullopt; // 65535 h
    return int(std::lround(*days * 86400));
}

struct ValueColumn {
    int column;
    const char16_t* unit;
    double min, max;
};
// Columns 3 to 9, in the order of kRecordHeader. The temperature is the
// register as the panel shows it, unsigned; a foreign book's negative degrees
// are the same register read as signed.
constexpr std::array<ValueColumn, 7> kValueColumns = {{
    {3, u"A", 0, 655.35},
    {4, u"V", 0, 655.35},
    {5, u"W", 0, 655.35},
    {6, u"℃", -32768, 65535},
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
    s.temperatureC = std::uint16_t(std::lround(v[3]) & 0xFFFF);
    s.resistanceMilliohm = std::uint16_t(std::lround(v[4]));
    s.capacityAh = v[5];
    s.energyWh = v[6];
    s.dischargeSeconds = *seconds;
    s.loadOn = s.current > 0; // the workbook holds no load state
    return 0;
}

// xl/workbook.xml: the relationship id of the first sheet.
class WorkbookPart : public XmlHandler {
public:
    std::string sheetId;
    Failure start(std::string_view name, const char** attributes) override
    {
        if (name == "sheet" && sheetId.empty()) sheetId = attributeOf(attributes, "id", true);
        return std::nullopt;
    }
    Failure end(std::string_view) override { return std::nullopt; }
    Failure text(std::string_view) override { return std::nullopt; }
};

// xl/_rels/workbook.xml.rels: the parts of that sheet and of the shared
// strings. Targets are relative to xl/, or absolute in the package.
class RelationshipsPart : public XmlHandler {
public:
    explicit RelationshipsPart(std::string sheetId) : sheetId_(std::move(sheetId)) {}
    QString sheetPart, sharedPart;
    Failure start(std::string_view name, const char** attributes) override
    {
        if (name != "Relationship") return std::nullopt;
        if (attributeOf(attributes, "Id") == sheetId_)
            sheetPart = partOf(attributeOf(attributes, "Target"));
        if (attributeOf(attributes, "Type").ends_with("/sharedStrings"))
            sharedPart = partOf(attributeOf(attributes, "Target"));
        return std::nullopt;
    }
    Failure end(std::string_view) override { return std::nullopt; }
    Failure text(std::string_view) override { return std::nullopt; }

private:
    static QString partOf(std::string_view target)
    {
        const QString t = textOf(target);
        if (t.startsWith(u'/')) return QDir::cleanPath(t.mid(1));
        return QDir::cleanPath(QStringLiteral("xl/") + t);
    }
    std::string sheetId_;
};

class SharedStringsPart : public XmlHandler {
public:
    explicit SharedStringsPart(SharedStrings& table) : table_(table) {}
    Failure start(std::string_view name, const char**) override
    {
        if (name == "si") {
            item_.clear();
            inItem_ = true;
        }
        item_.start(name);
        return std::nullopt;
    }
    Failure end(std::string_view name) override
    {
        item_.end(name);
        if (name != "si") return std::nullopt;
        inItem_ = false;
        if (!table_.add(item_.text())) return problemOf(ReadProblem::TooManySharedStrings);
        return std::nullopt;
    }
    Failure text(std::string_view piece) override
    {
        if (inItem_ && !item_.take(piece)) return problemOf(ReadProblem::TextTooLong);
        return std::nullopt;
    }

private:
    SharedStrings& table_;
    RunsText item_;
    bool inItem_ = false;
};

// The first sheet, row by row: the header row, then one sample per row with values.
class SheetPart : public XmlHandler {
public:
    SheetPart(const SharedStrings& shared, Blocks<Sample>& samples)
        : shared_(shared), samples_(samples)
    {
    }
    bool headerSeen() const { return headerSeen_; }

    Failure start(std::string_view name, const char** attributes) override
    {
        if (name == "row") return startRow(attributeOf(attributes, "r"));
        if (name == "c")
            return startCell(attributeOf(attributes, "r"), attributeOf(attributes, "t"));
        if (!inCell_) return std::nullopt;
        if (name == "v")
            inValue_ = true;
        else if (name == "is")
            inInline_ = true;
        if (inInline_) inline_.start(name);
        return std::nullopt;
    }
    Failure end(std::string_view name) override
    {
        if (name == "row") return takeRow();
        if (!inCell_) return std::nullopt;
        if (name == "c") return endCell();
        if (name == "v")
            inValue_ = false;
        else if (name == "is")
            inInline_ = false;
        else if (inInline_)
            inline_.end(name);
        return std::nullopt;
    }
    Failure text(std::string_view piece) override
    {
        if (!inCell_) return std::nullopt;
        const bool kept = inValue_ ? value_.append(piece) : !inInline_ || inline_.take(piece);
        if (kept) return std::nullopt;
        return problemOf(ReadProblem::TextTooLong, row_, column_);
    }

private:
    enum class Type { Number, Shared, Inline, Text };

    Failure startRow(std::string_view r)
    {
        const std::optional<qint64> number = r.empty() ? std::optional(row_ + 1) : wholeNumberOf(r);
        if (!number || *number <= 0) return problemOf(ReadProblem::BadRowNumber, 0, 0, textOf(r));
        row_ = *number;
        cells_ = {};
        column_ = 0;
        return std::nullopt;
    }
    Failure startCell(std::string_view r, std::string_view t)
    {
        column_ = r.empty() ? column_ + 1 : columnOfReference(r);
        if (column_ <= 0) return problemOf(ReadProblem::BadCellReference, row_, 0, textOf(r));
        inCell_ = column_ <= kBookColumns; // the columns beyond are not kept
        type_ = t.empty() || t == "n" ? Type::Number
                : t == "s"            ? Type::Shared
                : t == "inlineStr"    ? Type::Inline
                                      : Type::Text;
        value_.clear();
        inline_.clear();
        inValue_ = inInline_ = false;
        return std::nullopt;
    }
    Failure endCell()
    {
        inCell_ = false;
        Cell& cell = cells_[std::size_t(column_ - 1)];
        cell.number = type_ == Type::Number;
        if (type_ == Type::Inline) {
            cell.text = inline_.text();
        } else if (type_ == Type::Shared) {
            const std::optional<qint64> index = wholeNumberOf(value_.text());
            const std::optional<std::string_view> text = index ? shared_.at(*index) : std::nullopt;
            if (!text)
                return problemOf(ReadProblem::BadSharedString, row_, column_,
                                 textOf(value_.text()));
            cell.text = *text;
        } else {
            cell.text = value_.text();
        }
        return std::nullopt;
    }
    Failure takeRow()
    {
        inCell_ = false;
        if (!headerSeen_) return takeHeader();
        const auto filled = [](const Cell& c) {
            return c.text.find_first_not_of(" \t\r\n") != std::string::npos;
        };
        if (std::none_of(cells_.begin() + 1, cells_.end(), filled)) return std::nullopt;
        if (samples_.size() >= std::size_t(kMaxRows)) return problemOf(ReadProblem::TooManyRows);
        Sample s;
        if (const int bad = parseRow(cells_, clock_, s))
            return problemOf(ReadProblem::BadCell, row_, bad,
                             textOf(cells_[std::size_t(bad - 1)].text));
        samples_.push_back(s);
        return std::nullopt;
    }
    Failure takeHeader()
    {
        QStringList header;
        for (const Cell& c : cells_)
            header << textOf(c.text).trimmed();
        if (header != texts::kRecordHeader)
            return problemOf(ReadProblem::NotOurHeader, row_, 0, header.join(u' ').trimmed());
        headerSeen_ = true;
        return std::nullopt;
    }

    const SharedStrings& shared_;
    Blocks<Sample>& samples_;
    qint64 row_ = 0;
    int column_ = 0;
    Cells cells_;
    bool inCell_ = false, inValue_ = false, inInline_ = false;
    Type type_ = Type::Number;
    BoundedText value_;
    RunsText inline_;
    bool headerSeen_ = false;
    LocalClock clock_;
};

class WorkbookReader {
public:
    explicit WorkbookReader(QString path) : path_(std::move(path)), zip_(path_) {}
    ReadResult read();

private:
    Failure open() const;
    Failure parsePart(const QString& part, XmlHandler& handler);
    Failure readParts();

    QString path_;
    ZipPackage zip_;
    SharedStrings shared_;
    Blocks<Sample> samples_;
};

Failure WorkbookReader::open() const
{
    if (zip_.isOpen()) return std::nullopt;
    QFile file(path_);
    if (!file.exists()) return problemOf(ReadProblem::NoSuchFile);
    if (!file.open(QIODevice::ReadOnly)) {
        ReadError e = problemOf(ReadProblem::CannotOpen);
        e.reason = file.errorString();
        return e;
    }
    const QByteArray head = file.read(4);
    if (head.isEmpty()) return problemOf(ReadProblem::EmptyFile);
    return problemOf(head.startsWith("PK") ? ReadProblem::Damaged : ReadProblem::NotZip);
}

Failure WorkbookReader::parsePart(const QString& part, XmlHandler& handler)
{
    auto entry = zip_.open(part);
    if (auto* e = std::get_if<ReadError>(&entry)) return *e;
    Failure failure = parseXml(*std::get<std::unique_ptr<ZipPackage::Entry>>(entry), part, handler);
    if (failure && failure->part.isEmpty()) failure->part = part;
    return failure;
}

Failure WorkbookReader::readParts()
{
    if (Failure f = open()) return f;
    WorkbookPart workbook;
    if (Failure f = parsePart(kWorkbookPart, workbook)) return f;
    if (workbook.sheetId.empty()) {
        ReadError e = problemOf(ReadProblem::NoSheet);
        e.part = kWorkbookPart;
        return e;
    }
    RelationshipsPart relationships(workbook.sheetId);
    if (Failure f = parsePart(kWorkbookRels, relationships)) return f;
    if (relationships.sheetPart.isEmpty()) {
        ReadError e = problemOf(ReadProblem::SheetNotFound, 0, 0, textOf(workbook.sheetId));
        e.part = kWorkbookRels;
        return e;
    }
    QString sharedPart = relationships.sharedPart;
    if (sharedPart.isEmpty() && zip_.contains(kDefaultSharedPart)) sharedPart = kDefaultSharedPart;
    if (!sharedPart.isEmpty()) {
        SharedStringsPart strings(shared_);
        if (Failure f = parsePart(sharedPart, strings)) return f;
    }
    SheetPart sheet(shared_, samples_);
    if (Failure f = parsePart(relationships.sheetPart, sheet)) return f;
    if (!sheet.headerSeen()) return problemOf(ReadProblem::EmptySheet);
    return std::nullopt;
}

ReadResult WorkbookReader::read()
{
    if (Failure f = readParts()) {
        f->file = path_;
        return *f;
    }
    RecordedCurve curve;
    curve.name = QFileInfo(path_).completeBaseName();
    curve.hasStatus = false;
    curve.samples = samples_.take();
    Recording recording;
    recording.curves.push_back(std::move(curve));
    return recording;
}

} // namespace

ReadResult readWorkbook(const QString& path) { return WorkbookReader(path).read(); }

} // namespace eload::reader
