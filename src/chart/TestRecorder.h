#pragma once
// Records each discharge the chart's feed finds into the test library, once
// its load has been on (library::LiveTest): every reply of it, its figures
// as they change and its end as the model decides it. The cell
// under test is the operator's to name; it carries over to the next
// discharge (the same cell tested again) until changed. No widgets; the
// writer never makes the feed wait.

#include "chart/DischargeFeed.h"
#include "library/LiveTest.h"

#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

namespace eload {
class Panel;
class PortMap;
struct FormState;
} // namespace eload

namespace eload::chart {

// The line the readings come over, as a discharge begins.
struct LineInfo {
    QString port;               // the device's path
    std::optional<int> address; // the module's bus address; nothing when not a number
};

class TestRecorder final : public QObject {
    Q_OBJECT
public:
    using LineOf = std::function<LineInfo()>;

    TestRecorder(DischargeFeed& feed, library::TestWriter& writer, LineOf line,
                 QObject* parent = nullptr);

    // The cell of the discharge recorded now (or last), and of those to come.
    void setCell(const library::Cell& cell);
    const library::Cell& cell() const { return cell_; }
    // The test of the running or last discharge; null before the first
    // whose load came on, and while the running one's has not.
    QUuid test() const { return live_.test().value_or(QUuid()); }
    library::TestWriter& writer() { return writer_; }

private:
    void begin(const discharge::Sample& first);
    void append(const discharge::Sample& s);
    void end(const discharge::Summary& figures);
    library::TestHeader headerFor(const discharge::Sample& first) const;

    DischargeFeed& feed_;
    library::TestWriter& writer_;
    LineOf line_;
    library::Cell cell_;
    library::LiveTest live_;
};

// The panel's address box text as a bus address (1 to 255 on the panel's
// list; what the operator typed may be anything).
std::optional<int> addressOf(const QString& text);

// The panel's line as it is when asked: the device behind its open port and
// the module's address in its "Slave ID" box. Only reads; all three must
// outlive the function.
TestRecorder::LineOf panelLine(const Panel& panel, const FormState& state, const PortMap& ports);

} // namespace eload::chart
