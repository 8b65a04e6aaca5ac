#include "discharge/Summary.h"

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

QStringList Summary::flagKeys() const
{
    QStringList keys;
    if (countsDisagree) keys << QStringLiteral("counts-disagree");
    if (gaps > 0) keys << QStringLiteral("gaps");
    return keys;
}

} // namespace eload::discharge
