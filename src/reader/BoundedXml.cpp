#include "reader/BoundedXml.h"

#include <cstddef>
#include <cstdlib>
#include <expat.h>

namespace eload::reader {

namespace {

constexpr int kChunkBytes = 64 << 10;
constexpr char kNamespaceSeparator = '\x1F';

// Expat's allocator takes no context: the budget of the parse running on this
// thread stands in a thread_local. Each block carries its size in front.
struct Budget {
    std::size_t used = 0;
    bool refused = false; // a request went beyond the budget
};
thread_local Budget* tBudget = nullptr;
constexpr std::size_t kHeader = alignof(std::max_align_t);

bool withinBudget(std::size_t more)
{
    if (more <= std::size_t(kMaxParserBytes) - tBudget->used) return true;
    tBudget->refused = true;
    return false;
}

void* budgetMalloc(std::size_t n)
{
    if (!withinBudget(n)) return nullptr;
    auto* block = static_cast<char*>(std::malloc(n + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = n;
    tBudget->used += n;
    return block + kHeader;
}

void* budgetRealloc(void* p, std::size_t n)
{
    if (!p) return budgetMalloc(n);
    char* block = static_cast<char*>(p) - kHeader;
    const std::size_t old = *reinterpret_cast<std::size_t*>(block);
    if (n > old && !withinBudget(n - old)) return nullptr;
    auto* moved = static_cast<char*>(std::realloc(block, n + kHeader));
    if (!moved) return nullptr;
    *reinterpret_cast<std::size_t*>(moved) = n;
    tBudget->used = tBudget->used - old + n;
    return moved + kHeader;
}

void budgetFree(void* p)
{
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    tBudget->used -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

std::string_view localName(const char* name)
{
    const std::string_view full(name);
    const std::size_t separator = full.rfind(kNamespaceSeparator);
    return separator == std::string_view::npos ? full : full.substr(separator + 1);
}

ReadError partError(ReadProblem problem, const QString& part)
{
    ReadError e;
    e.problem = problem;
    e.part = part;
    return e;
}

// The parse of one part: the parser, its handler, what stopped it.
struct Parse {
    XML_Parser parser;
    XmlHandler& handler;
    const QString& part;
    int depth = 0;
    Failure failure;

    void stop(Failure f)
    {
        if (!f || failure) return;
        failure = std::move(f);
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes)
{
    auto* parse = static_cast<Parse*>(data);
    if (++parse->depth > kMaxDepth)
        return parse->stop(partError(ReadProblem::TooDeep, parse->part));
    parse->stop(parse->handler.start(localName(name), attributes));
}

void XMLCALL onEnd(void* data, const XML_Char* name)
{
    auto* parse = static_cast<Parse*>(data);
    --parse->depth;
    parse->stop(parse->handler.end(localName(name)));
}

void XMLCALL onText(void* data, const XML_Char* text, int length)
{
    auto* parse = static_cast<Parse*>(data);
    parse->stop(parse->handler.text(std::string_view(text, std::size_t(length))));
}

void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
{
    auto* parse = static_cast<Parse*>(data);
    ReadError e = partError(ReadProblem::BadXml, parse->part);
    e.row = qint64(XML_GetCurrentLineNumber(parse->parser));
    e.reason = QStringLiteral("a document type declaration, which no workbook has");
    parse->stop(std::move(e));
}

// Why expat gave up, when no handler stopped it.
ReadError parserFailure(XML_Parser parser, const Budget& budget, const QString& part)
{
    const XML_Error code = XML_GetErrorCode(parser);
    if (code == XML_ERROR_NO_MEMORY)
        return partError(budget.refused ? ReadProblem::ElementTooLarge : ReadProblem::OutOfMemory,
                         part);
    ReadError e = partError(ReadProblem::BadXml, part);
    e.row = qint64(XML_GetCurrentLineNumber(parser));
    e.reason = QString::fromUtf8(XML_ErrorString(code));
    return e;
}

// Sets the thread's budget for the life of one parser.
class BudgetScope {
public:
    BudgetScope() { tBudget = &budget_; }
    ~BudgetScope() { tBudget = nullptr; }
    BudgetScope(const BudgetScope&) = delete;
    BudgetScope& operator=(const BudgetScope&) = delete;
    const Budget& budget() const { return budget_; }

private:
    Budget budget_;
};

Failure feed(Parse& parse, ZipPackage::Entry& entry, const Budget& budget)
{
    for (;;) {
        void* buffer = XML_GetBuffer(parse.parser, kChunkBytes);
        if (!buffer) return parserFailure(parse.parser, budget, parse.part);
        const int n = entry.read(static_cast<char*>(buffer), kChunkBytes);
        if (n < 0) return entry.failure();
        if (XML_ParseBuffer(parse.parser, n, n == 0) != XML_STATUS_OK)
            return parse.failure ? parse.failure : parserFailure(parse.parser, budget, parse.part);
        if (n == 0) return entry.finish();
    }
}

} // namespace

Failure parseXml(ZipPackage::Entry& entry, const QString& part, XmlHandler& handler)
{
    BudgetScope scope;
    const XML_Memory_Handling_Suite memory{budgetMalloc, budgetRealloc, budgetFree};
    const XML_Char separator = kNamespaceSeparator;
    XML_Parser parser = XML_ParserCreate_MM(nullptr, &memory, &separator);
    if (!parser) return partError(ReadProblem::OutOfMemory, part);
    Parse parse{parser, handler, part, 0, std::nullopt};
    XML_SetUserData(parser, &parse);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
    Failure failure = feed(parse, entry, scope.budget());
    XML_ParserFree(parser);
    return failure;
}

std::string_view attributeOf(const char** attributes, std::string_view name, bool namespaced)
{
    for (const char** a = attributes; *a; a += 2) {
        const std::string_view full(*a);
        const std::size_t separator = full.rfind(kNamespaceSeparator);
        const bool hasNamespace = separator != std::string_view::npos;
        if (hasNamespace == namespaced &&
            (hasNamespace ? full.substr(separator + 1) : full) == name)
            return a[1];
    }
    return {};
}

bool BoundedText::append(std::string_view piece)
{
    qint64 chars = 0;
    for (const char c : piece)
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80; // not a UTF-8 continuation
    if (chars_ + chars > kMaxTextChars) return false;
    text_.append(piece);
    chars_ += chars;
    return true;
}

void BoundedText::clear()
{
    text_.clear();
    chars_ = 0;
}

} // namespace eload::reader
