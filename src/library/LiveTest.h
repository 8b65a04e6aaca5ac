#pragma once
// One discharge of a live test on its way to the writer. It becomes a test
// of the library only once its load has been on: a stretch in which it
// never came on (a module polled while idle, a switch-on that never came)
// tests no battery, and would only stand in lists and packs as a cell of
// no capacity. Until then its replies wait here, every one, and go to the
// writer in order when the load comes on; they are dropped only when the
// discharge ends without it.

#include "library/TestWriter.h"

#include <optional>
#include <vector>

namespace eload::library {

class LiveTest {
public:
    explicit LiveTest(TestWriter& writer) : writer_(writer) {}

    // A discharge starts; `header` is its test's when the load comes on.
    // One still open is left as it is: finish() it first.
    void start(TestHeader header);
    // A reply of the discharge and the model's figures with it.
    void add(const discharge::Sample& s, const discharge::Summary& figures);
    // The figures changed without a reply (a poll unanswered).
    void update(const discharge::Summary& figures);
    // The discharge's end with its final figures.
    void finish(const discharge::Summary& figures);

    // The cell of this discharge's test, begun or not.
    void setCell(const Cell& cell);

    // The test in the writer: none until the load came on.
    const std::optional<QUuid>& test() const { return test_; }
    bool open() const { return open_; }

private:
    void beginWithHeld();

    TestWriter& writer_;
    TestHeader header_;
    std::optional<QUuid> test_;
    std::vector<discharge::Sample> held_;
    bool open_ = false;
};

} // namespace eload::library
