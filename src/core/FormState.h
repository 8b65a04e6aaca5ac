#pragma once
// Form-level state of frmmain: owned by the window, lives as long as it, and
// is handed by reference to every subsystem.

#include <QString>
#include <cstdint>

namespace eload {

struct FormState {
    // request transaction and reply check
    QString SendHex;                // hex text of the last request sent
    QString ReceiveHex;             // hex text of the bytes received since then
    std::int16_t ResumePolling = 0; // 1: the reply check switches polling back on

    // serial port
    std::int16_t SelectedPort = 0;   // Combo1 list position + 1, as last taken over
    std::int16_t OpenPortNumber = 0; // 0 while no port is open
    QString ParityLetter;
    QString PortSettings;

    // decoding
    double CapacityRaw = 0;     // 0.001 AH, assembled from registers 3 and 4
    double EnergyRaw = 0;       // 0.001 WH, assembled from registers 5 and 6
    std::int16_t LoadState = 0; // 0 off, 1 on, as last commanded or read back

    // write presets
    std::int16_t BaudCode = 0;
    double CurrentValue = 0; // working values of the last write, in hundredths
    double LowVoltageValue = 0;
    double PowerValue = 0;

    // recording
    QString RecordFlag = QStringLiteral("0"); // "1" while a workbook is open
    QString NextRow;
    QString BookName;
    QString AppFolder; // folder of the executable
};

} // namespace eload
