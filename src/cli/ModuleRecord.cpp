#include "cli/ModuleRecord.h"

#include "discharge/Sample.h"

namespace eload::cli {

using Change = discharge::TestModel::Change;

ModuleRecord::ModuleRecord(library::TestWriter& writer, library::TestHeader header)
    : header_(std::move(header)), live_(writer)
{
}

void ModuleRecord::taken(const modbus::Reading& r, Change change, bool inDischarge,
                         const discharge::TestModel& model)
{
    if (change == Change::Started) {
        // The module was cleared or switched on again: the discharge before
        // is a test of its own, with the figures the model closed it with.
        if (model.previous()) live_.finish(*model.previous());
        noteTest();
        start(r);
    }
    if (inDischarge)
        live_.add(discharge::sampleOf(r), model.summary());
    else
        live_.update(model.summary());
    noteTest();
}

void ModuleRecord::missed(const discharge::TestModel& model) { live_.update(model.summary()); }

void ModuleRecord::finish(const discharge::Summary& figures)
{
    live_.finish(figures);
    noteTest();
}

QList<QUuid> ModuleRecord::tests() const { return tests_; }

// The presets are those the module held at the discharge's first reply.
void ModuleRecord::start(const modbus::Reading& r)
{
    library::TestHeader h = header_;
    h.startMsecs = r.time.toMSecsSinceEpoch();
    h.presets = {r.currentPreset, r.cutoffPreset, r.powerPreset};
    live_.start(std::move(h));
}

void ModuleRecord::noteTest()
{
    if (live_.test() && (tests_.isEmpty() || tests_.last() != *live_.test()))
        tests_ << *live_.test();
}

} // namespace eload::cli
