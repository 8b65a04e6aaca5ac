#pragma once
// The window's own texts. Handlers decide by comparing captions with these,
// so every caption that carries state is spelled in exactly one place.

#include <QString>
#include <QStringList>

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

// Detail lines of the serial port's boxes: %1 the device path
inline const QString kNoAccessJoinGroup =
    QStringLiteral("无权访问 %1：请将用户加入 %2 组（sudo usermod -aG %2 $USER），然后重新登录。");
inline const QString kNoAccessGroupId =
    QStringLiteral("无权访问 %1：请将用户加入拥有该设备的组（组号 %2），然后重新登录。");
inline const QString kNoAccessCheckRights = QStringLiteral("无权访问 %1：请检查该设备的访问权限。");
inline const QString kNoDeviceForPort = QStringLiteral("COM%1 没有对应的设备");
inline const QString kBadLineSettings = QStringLiteral(
    "串口参数 \"%1\" 无效：应为 波特率,校验位(N/O/E),数据位(5-8),停止位(1/2)，如 9600,N,8,1");
// Detail lines of kPortLost: the cause after the device path, then the system's words
inline const QString kLineDeviceGone =
    QStringLiteral("设备已不存在：串口适配器已被拔出，或设备已被移除。");
inline const QString kLineHungUp =
    QStringLiteral("设备已断开：串口适配器可能已被拔出或断电，或线路另一端已关闭。");
inline const QString kLineIoFailed = QStringLiteral("设备读写失败：请检查串口适配器和连接线。");
inline const QString kSystemSays = QStringLiteral("系统错误信息：%1");

// Message_Show
inline const QString kReplyGood = QStringLiteral("通讯数据正常！");
inline const QString kReplyBad = QStringLiteral("通讯数据错误！");

// Recording: row 1 of every workbook, columns 1 to 10
inline const QStringList kRecordHeader = {QStringLiteral("序号"), QStringLiteral("时间"),
                                          QStringLiteral("电流"), QStringLiteral("电压"),
                                          QStringLiteral("功率"), QStringLiteral("温度"),
                                          QStringLiteral("内阻"), QStringLiteral("容量"),
                                          QStringLiteral("能量"), QStringLiteral("放电时间")};
// Recording boxes; their detail line names the file and the cause
inline const QString kRecordSaveFailed = QStringLiteral("记录保存失败！");
inline const QString kRecordStartFailed = QStringLiteral("无法创建记录文件！");
inline const QString kRecordWriteFailed = QStringLiteral("记录写入失败！");
inline const QString kRecordRowsKept = QStringLiteral("记录数据已保留，排除原因后请再按“保 存”。");
inline const QString kRecordRowsKeptForStart =
    QStringLiteral("记录数据已保留，下次启动时自动保存。");
inline const QString kRecordRowsHeld = QStringLiteral("记录数据暂存在内存中，空间恢复后自动写入。");
// Why recordings are not beside the program: the %1 of the texts below
inline const QString kProgramFolderNotWritable = QStringLiteral("程序目录不可写");
inline const QString kProgramFolderIsSystem = QStringLiteral("程序安装在系统目录中");
inline const QString kProgramFolderNotOwn = QStringLiteral("程序目录不属于当前用户");
// Recording in Message_Show: %2 the folder; the names of the recovered workbooks
inline const QString kRecordingInFolder = QStringLiteral("%1，记录保存到：%2");
inline const QString kRecordsRecovered = QStringLiteral("已恢复未保存的记录：%1");
// Workbooks saved outside the program's folder: the box's detail is their full paths
inline const QString kRecordSavedOutside = QStringLiteral("%1，记录已保存到：");
inline const QString kRecordsRecoveredOutside = QStringLiteral("%1，已恢复的记录保存在：");
// Tooltip of Command6: %1 the full path of the last saved workbook
inline const QString kLastRecordTip = QStringLiteral("最近保存的记录：%1");

// What a screen reader says for controls without a caption of their own
inline const QString kEnergyCaption = kRecordHeader.at(8);            // AI_SHOW(4)
inline const QString kDischargeTimeCaption = kRecordHeader.at(9);     // Label17(0..4)
inline const QString kProtectionCaption = QStringLiteral("保护状态"); // Label20
inline const QString kPortLampClosed = QStringLiteral("串口状态: 已关闭");
inline const QString kPortLampOpen = QStringLiteral("串口状态: 已打开");
inline const QString kLoadSwitchCaption = QStringLiteral("POWER STA:"); // Label18(3), Command5

// Why the panel keeps the computer from suspending, as the desktop lists it
inline const QString kKeepAwakeReason = QStringLiteral("电池放电测试进行中，休眠会中断测试和记录");

} // namespace eload::texts
