#include "chart/TestRecorder.h"

#include "core/FormState.h"
#include "core/Panel.h"
#include "serial/PortMap.h"

#include <QSysInfo>
#include <utility>

namespace eload::chart {

TestRecorder::TestRecorder(DischargeFeed& feed, library::TestWriter& writer, LineOf line,
                           QObject* parent)
    : QObject(parent), feed_(feed), writer_(writer), line_(std::move(line)), live_(writer)
{
    connect(&feed_, &DischargeFeed::dischargeBegan, this, &TestRecorder::begin);
    connect(&feed_, &DischargeFeed::replyAdded, this, &TestRecorder::append);
    connect(&feed_, &DischargeFeed::dischargeEnded, this, &TestRecorder::end);
}

void TestRecorder::setCell(const library::Cell& cell)
{
    cell_ = cell;
    live_.setCell(cell_);
}

library::TestHeader TestRecorder::headerFor(const discharge::Sample& first) const
{
    library::TestHeader h;
    h.cell = cell_;
    h.station = QSysInfo::machineHostName();
    if (line_) {
        const LineInfo line = line_();
        h.port = line.port;
        h.address = line.address;
    }
    if (const auto& p = feed_.presets()) h.presets = {p->currentA, p->cutoffV, p->powerW};
    h.startMsecs = first.msecs;
    return h;
}

void TestRecorder::begin(const discharge::Sample& first) { live_.start(headerFor(first)); }

void TestRecorder::append(const discharge::Sample& s) { live_.add(s, feed_.summary()); }

void TestRecorder::end(const discharge::Summary& figures) { live_.finish(figures); }

std::optional<int> addressOf(const QString& text)
{
    bool ok = false;
    const int address = text.trimmed().toInt(&ok);
    if (!ok || address < 0 || address > 255) return std::nullopt;
    return address;
}

TestRecorder::LineOf panelLine(const Panel& panel, const FormState& state, const PortMap& ports)
{
    return [&panel, &state, &ports] {
        return LineInfo{ports.pathOf(state.OpenPortNumber),
                        addressOf(panel.text(Ctl::Combo_Addr2))};
    };
}

} // namespace eload::chart
