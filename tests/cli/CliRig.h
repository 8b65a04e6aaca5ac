#pragma once
// What the eload-cli tests share: the program run to its end, and simulated
// modules on a pseudo-terminal.

#include "modbus/Crc16.h"
#include "sim/Simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

namespace eload::test {

inline constexpr int kWaitMs = 60000; // generous: the machine may be busy

// Registers 0..17 that exercise every value: 1.25 A, 12.10 V, 15.12 W,
// 2.500 AH, 30.250 WH, 45 mΩ, 36 ℃, OTP, 01:05:09, presets 2 A, 1.5 V, 100 W,
// 9600 Bd, load on.
inline const std::vector<std::uint16_t> kRegisters = {125, 1210, 1512, 0, 2500, 0,   30250, 45, 36,
                                                      4,   1,    5,    9, 200,  150, 10000, 1,  1};

struct Run {
    int status = -1; // -1: ended by a signal, or killed when it did not end
    QByteArray out, err;
    QList<QJsonObject> json() const
    {
        QList<QJsonObject> objects;
        for (const QByteArray& l : out.split('\n'))
            if (!l.isEmpty()) objects << QJsonDocument::fromJson(l).object();
        return objects;
    }
    QJsonObject summary(int address) const
    {
        for (const QJsonObject& o : json())
            if (o.contains("summary") && o["address"].toInt() == address)
                return o["summary"].toObject();
        return {};
    }
};

// A watch records into the test library of the user's data folder: each
// test program gives its runs a data folder of its own, gone at its end.
inline void keepLibraryApart()
{
    static QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qunsetenv("ELOAD_DB");
}

inline Run finish(QProcess& p, int waitMs = kWaitMs)
{
    p.closeWriteChannel();
    if (!p.waitForFinished(waitMs)) p.kill();
    p.waitForFinished();
    const bool normal = p.exitStatus() == QProcess::NormalExit;
    return {normal ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

inline Run run(const QStringList& args)
{
    QProcess p;
    p.start(ELOAD_CLI, args);
    return finish(p);
}

// Modules on one pty; registers hold what the test sets unless `speed` (the
// battery model then runs that many times faster than real time).
struct Line {
    sim::Simulator sim;
    QString path;
    explicit Line(std::vector<std::uint8_t> addresses = {1}, double speed = 0,
                  const QString& link = {})
        : sim(options(addresses, speed, link))
    {
        auto started = sim.start();
        if (auto* p = std::get_if<std::string>(&started)) path = QString::fromStdString(*p);
        if (!link.isEmpty()) path = link;
        for (sim::ModuleAccess m : sim.modules())
            for (int i = 0; i < int(kRegisters.size()); ++i)
                if (!speed) m.setReg(i, kRegisters[i]);
    }
    static sim::Options options(const std::vector<std::uint8_t>& addresses, double speed,
                                const QString& link)
    {
        sim::Options o;
        o.speed = speed ? speed : 1;
        o.linkPath = link.toStdString();
        for (std::uint8_t a : addresses)
            o.modules.push_back({a, {}});
        for (sim::ModuleSetup& m : o.modules)
            m.model.running = speed > 0;
        return o;
    }
    QStringList args(QStringList more) const { return QStringList{"--port", path} + more; }
    // The requests received, a retry (the same frame again) counted once: a
    // busy machine may hold a reply up beyond its timeout.
    std::vector<QByteArray> frames() const
    {
        std::vector<QByteArray> out;
        for (const sim::RequestRecord& r : sim.requests()) {
            QByteArray f(reinterpret_cast<const char*>(r.bytes.data()), qsizetype(r.bytes.size()));
            if (out.empty() || out.back() != f) out.push_back(f);
        }
        return out;
    }
    // How many requests, retries included, carried exactly `frame`.
    int count(const QByteArray& frame) const
    {
        int n = 0;
        for (const sim::RequestRecord& r : sim.requests())
            n += QByteArray(reinterpret_cast<const char*>(r.bytes.data()),
                            qsizetype(r.bytes.size())) == frame;
        return n;
    }
};

inline QByteArray withCrc(QByteArray body)
{
    const std::uint16_t crc = modbus::crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

inline QStringList csvRows(const QString& path, Qt::SplitBehavior blank = Qt::SkipEmptyParts)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList rows = QString::fromUtf8(f.readAll()).split(u'\n');
    if (!rows.isEmpty() && rows.last().isEmpty()) rows.removeLast();
    if (blank == Qt::SkipEmptyParts) rows.removeAll(QString());
    return rows;
}

} // namespace eload::test
