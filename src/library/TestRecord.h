#pragma once
// The record of one test of a battery: which cell, where and how it was
// tested, the figures the test model produced (never recomputed here), the
// state of health against the cell's rated capacity, its grade, and where an
// imported test came from. The curve (every reply) is stored beside it and
// read on its own (Store::curve), as lists of tests never need it.

#include "discharge/Summary.h"

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <optional>

namespace eload::library {

struct Cell {
    QString name;                  // "A17", "pack 3 / cell 2" ...
    QString type;                  // "18650 Li-ion" ...
    std::optional<double> ratedAh; // the maker's rated capacity
};

// The module's presets while the test ran, when known.
struct Presets {
    std::optional<double> currentA, cutoffV, powerW;
};

// What is known when a test begins.
struct TestHeader {
    QUuid uuid; // unique across stations; made by the writer when null
    Cell cell;
    QString station; // host name
    QString port;    // "/dev/ttyUSB0", "COM1" ...
    std::optional<int> address;
    Presets presets;
    qint64 startMsecs = 0; // UTC, milliseconds since the epoch
};

// Where an imported test came from: the file, its content's SHA-256 (a file
// imported twice is known by it, whatever its name), the discharge's place in it.
struct Source {
    QString file;
    QByteArray sha256;
    int index = 0;
};

enum class TestState {
    Running,    // being written, last news recent
    Finished,   // the writer finished it
    Unfinished, // no news for a while and never finished: the writer stopped or crashed
};

struct TestRecord {
    qint64 id = 0; // the database's key: 0 until stored
    TestHeader header;
    discharge::Summary summary;
    bool finished = false;
    qint64 updatedMsecs = 0;             // the last write of this record, UTC
    std::optional<double> stateOfHealth; // capacity / rated capacity (1.0 = 100 %)
    QString grade;                       // empty: not graded
    std::optional<Source> source;

    // Start and end of the test, UTC: the first and last reply, or when it
    // began while no reply is stored yet.
    qint64 startMsecs() const;
    qint64 endMsecs() const;
    TestState state(qint64 nowMsecs) const;
};

// A test that has been written to within this is still running.
inline constexpr qint64 kRunningNewsMsecs = 120'000;

// capacity / rated capacity; nothing without a rated capacity above zero.
std::optional<double> stateOfHealth(const discharge::Summary& s, const Cell& cell);

// "running", "finished", "unfinished".
QString stateKey(TestState state);

} // namespace eload::library
