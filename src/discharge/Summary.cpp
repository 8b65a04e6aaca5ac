#include "discharge/Summary.h"

#include "discharge/Tracker.h"

#include <algorithm>

namespace eload::discharge {

QString endReasonText(EndReason reason)
{
    switch (reason) {
    case EndReason::Uvlo: return QStringLiteral("UVLO");
    case EndReason::Opp: return QStringLiteral("OPP");
    case EndReason::Otp: return QStringLiteral("OTP");
    case EndReason::LoadOff: return QStringLiteral("负载关闭");
    case EndReason::LineLost: return QStringLiteral("通讯中断");
    case EndReason::None: break;
    }
    return {};
}

QString endReasonKey(EndReason reason)
{
    switch (reason) {
    case EndReason::Uvlo: return QStringLiteral("uvlo");
    case EndReason::Opp: return QStringLiteral("opp");
    case EndReason::Otp: return QStringLiteral("otp");
    case EndReason::LoadOff: return QStringLiteral("load-off");
    case EndReason::LineLost: return QStringLiteral("line-lost");
    case EndReason::None: break;
    }
    return {};
}

EndReason endReasonOfProtection(std::uint16_t code)
{
    switch (code) {
    case modbus::ProtectionUvlo: return EndReason::Uvlo;
    case modbus::ProtectionOpp: return EndReason::Opp;
    case modbus::ProtectionOtp: return EndReason::Otp;
    default: return EndReason::None;
    }
}

void SummaryBuilder::add(const Sample& s)
{
    if (s_.samples == 0) s_.startMsecs = s.msecs;
    ++s_.samples;
    s_.endMsecs = s.msecs;
    s_.durationSeconds = s.dischargeSeconds;
    s_.capacityAh = s.capacityAh;
    s_.energyWh = s.energyWh;
    if (!s.loadOn) return;
    s_.lowestVoltage = anyLoadOn_ ? std::min(s_.lowestVoltage, double(s.voltage)) : s.voltage;
    anyLoadOn_ = true;
    ++loadOnSamples_;
    sumVoltage_ += s.voltage;
    sumCurrent_ += s.current;
    sumPower_ += s.power;
}

void SummaryBuilder::end(EndReason reason) { s_.end = reason; }

bool SummaryBuilder::empty() const { return s_.samples == 0; }

Summary SummaryBuilder::summary() const
{
    Summary r = s_;
    r.loadOnSamples = loadOnSamples_;
    const double n = std::max(loadOnSamples_, 1);
    r.averageVoltage = r.capacityAh > 0 ? r.energyWh / r.capacityAh : sumVoltage_ / n;
    const double hours = r.durationSeconds / 3600.0;
    r.averageCurrent = hours > 0 ? r.capacityAh / hours : sumCurrent_ / n;
    r.averagePower = hours > 0 ? r.energyWh / hours : sumPower_ / n;
    return r;
}

std::vector<Summary> summarizeEach(const std::vector<Sample>& samples, bool hasStatus)
{
    std::vector<Summary> each;
    Tracker tracker;
    for (const Sample& s : samples)
        if (tracker.take(s) == Tracker::Change::Started && tracker.previous())
            each.push_back(*tracker.previous());
    tracker.dataEnded();
    if (!samples.empty()) each.push_back(tracker.summary());
    if (!hasStatus)
        for (Summary& s : each)
            s.end = EndReason::None;
    return each;
}

Summary summarize(const std::vector<Sample>& samples, bool hasStatus)
{
    const std::vector<Summary> each = summarizeEach(samples, hasStatus);
    if (each.empty()) return {};
    auto loaded = std::find_if(each.rbegin(), each.rend(),
                               [](const Summary& s) { return s.loadOnSamples > 0; });
    return loaded != each.rend() ? *loaded : each.back();
}

} // namespace eload::discharge
