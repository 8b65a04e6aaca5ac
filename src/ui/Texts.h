#pragma once
// The window's own texts. Handlers decide by comparing captions with these,
// so every caption that carries state is spelled in exactly one place.

#include <QString>

namespace eload::texts {

// Title of the message boxes; the window caption pads it with 48 blanks.
inline const QString kProgramTitle = QStringLiteral("电子负载 150W");

// Command1 and the port state
inline const QString kOpenPort = QStringLiteral("打开串口");
inline const QString kClosePort = QStringLiteral("关闭串口");
// Command_OK3 and the acquisition state
inline const QString kAcquire = QStringLiteral("采 集");
inline const QString kStop = QStringLiteral("停 止");
// Command6 and the recording state
inline const QString kRecord = QStringLiteral("记 录");
inline const QString kRecording = QStringLiteral("记录中");
inline const QString kSave = QStringLiteral("保 存");
// Command5 and the load switch
inline const QString kOn = QStringLiteral("ON");
inline const QString kOff = QStringLiteral("OFF");

// Parity list
inline const QString kNoParity = QStringLiteral("无校验");
inline const QString kOddParity = QStringLiteral("奇校验");
inline const QString kEvenParity = QStringLiteral("偶校验");

// Message boxes
inline const QString kOpenPortFirst = QStringLiteral("请先打开串口！");
inline const QString kBadParameter = QStringLiteral("参数设置错误！");
inline const QString kAddressNotSet = QStringLiteral("模块地址未设置！");
inline const QString kNoSuchPort = QStringLiteral("串口不存在！");
inline const QString kPortInUse = QStringLiteral("串口已打开！");
inline const QString kOtherError = QStringLiteral("其它错误");
inline const QString kPortLost = QStringLiteral("串口已断开！");
inline const QString kOpenFailed = QStringLiteral("串口打开失败！");

// Message_Show
inline const QString kReplyGood = QStringLiteral("通讯数据正常！");
inline const QString kReplyBad = QStringLiteral("通讯数据错误！");

} // namespace eload::texts
