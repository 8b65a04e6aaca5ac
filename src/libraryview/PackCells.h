#pragma once
// Which tested cells go into a pack, and the matched pack as CSV. A cell
// tested more than once counts once, with its latest test; "graded" takes
// the cells whose latest test has a grade other than reject.

#include "library/TestRecord.h"
#include "pack/Pack.h"

#include <QString>
#include <vector>

namespace eload::libraryview {

struct PackInput {
    std::vector<pack::Cell> cells;
    std::vector<qint64> testIds; // the test each cell's figures come from
};

enum class PackSource { Selected, Graded };

PackInput packInputOf(const std::vector<library::TestRecord>& tests, PackSource source);

// group, cell, capacity (A·h), resistance (mΩ), test; then the cells left over
// (group "left over"), then the spread. Excel-safe: every text is quoted.
QString packCsv(const pack::Pack& pack, const PackInput& input);

// Why no pack could be matched, in Chinese, with matchPack's own words
// (which name the cell) after it.
QString packErrorText(const pack::PackError& error);

// The proof of the spread in words: optimal, or between a bound and the answer.
QString proofText(const pack::Pack& pack);

} // namespace eload::libraryview
