#pragma once
// A serial line and a clock for handler tests: frames written are kept,
// replies are fed by the test, pauses are counted instead of waited.

#include "core/Clock.h"
#include "serial/SerialDevice.h"

#include <QByteArrayList>
#include <QMap>

namespace eload::test {

class FakeSerialDevice : public SerialDevice {
public:
    void setListener(Listener* l) override { listener = l; }
    QString pathOf(int port) const override;
    std::optional<SerialError> probe(int port) override;
    std::optional<SerialError> open(int port, const QString& settings) override;
    void close() override { openPort = 0; }
    bool isOpen() const override { return openPort != 0; }
    void write(const QByteArray& frame) override { written.append(frame); }
    QByteArray readAll() override;

    Listener* listener = nullptr;
    QMap<int, SerialError> probeErrors; // port -> failure of the probe
    std::optional<SerialError> openError;
    int openPort = 0;
    QString openSettings;
    QList<int> probed;
    QByteArrayList written;
    QByteArray pending;
};

class FakeClock : public Clock {
public:
    QDateTime now() const override { return current; }
    void pause(int ms) override { pauses.append(ms); }

    QDateTime current = QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9));
    QList<int> pauses;
};

} // namespace eload::test
