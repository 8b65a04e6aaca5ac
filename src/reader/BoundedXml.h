#pragma once
// One XML part of a zip parsed as it inflates (internal), through expat.
//
// Expat, not QXmlStreamReader: QXmlStreamReader holds a text until its end
// tag has arrived (a 500 MiB cell becomes a 1 GiB string before the reader
// sees any of it) and has no say over its own memory. Expat hands character
// data over in pieces as it arrives, and takes an allocator: every byte it
// holds (its buffer, a tag's attributes, the open elements) counts against
// kMaxParserBytes, and a tag beyond that fails the parse instead of the
// program. Nesting is bounded here (kMaxDepth), the length of a text by the
// handlers that keep one (BoundedText). Documents with a DOCTYPE are refused:
// no workbook part has one, and entity expansion is then out of the question.

#include "reader/ZipPackage.h"

#include <string>
#include <string_view>

namespace eload::reader {

// What a part's parser is told. Names are local names (the namespace is left
// out); a Failure returned stops the parse with it.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // `attributes`: expat's name, value pairs up to a null name; a namespaced
    // name is "<namespace URI>\x1F<local name>".
    virtual Failure start(std::string_view name, const char** attributes) = 0;
    virtual Failure end(std::string_view name) = 0;
    // A piece of character data: one text may come in many pieces.
    virtual Failure text(std::string_view piece) = 0;
};

// Parses `entry` through `handler` to the end of the entry.
Failure parseXml(ZipPackage::Entry& entry, const QString& part, XmlHandler& handler);

// The value of the attribute whose local name is `name`: with a namespace
// (r:id) when `namespaced`, else without (Id). Empty when there is none.
std::string_view attributeOf(const char** attributes, std::string_view name,
                             bool namespaced = false);

// A text gathered from its pieces, at most kMaxTextChars characters.
class BoundedText {
public:
    // False when the text would grow beyond the bound (it is then left as it was).
    bool append(std::string_view piece);
    void clear();
    const std::string& text() const { return text_; }

private:
    std::string text_;
    qint64 chars_ = 0;
};

} // namespace eload::reader
