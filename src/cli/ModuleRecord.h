#pragma once
// One module's tests into the test library, as the test model cuts them: a
// record of each discharge in which the load came on (library::LiveTest),
// every reply of that discharge in its curve, its figures following the
// model's, finished with the figures the watch's summary shows. The writer
// only queues: nothing here waits for a database or a disk.

#include "discharge/TestModel.h"
#include "library/LiveTest.h"
#include "modbus/Reading.h"

#include <QList>
#include <QUuid>
#include <optional>

namespace eload::cli {

class ModuleRecord {
public:
    // `header`: the cell, station, port and address; the rest comes with each discharge.
    ModuleRecord(library::TestWriter& writer, library::TestHeader header);

    // A reply the model took with `change`; `inDischarge`: it counts in the
    // model's running discharge (or ended it).
    void taken(const modbus::Reading& r, discharge::TestModel::Change change, bool inDischarge,
               const discharge::TestModel& model);
    // A poll that brought no answer: the figures now count it.
    void missed(const discharge::TestModel& model);
    // The watch's end of the test, with the figures its summary shows.
    void finish(const discharge::Summary& figures);

    // Every record begun, oldest first.
    QList<QUuid> tests() const;

private:
    void start(const modbus::Reading& r);
    void noteTest();

    library::TestHeader header_;
    library::LiveTest live_;
    QList<QUuid> tests_;
};

} // namespace eload::cli
