#include "cli/ModuleRecord.h"

#include "discharge/Sample.h"

namespace eload::cli {

using Change = discharge::TestModel::Change;

ModuleRecord::ModuleRecord(library::TestWriter& writer, library::TestHeader header)
    : writer_(writer), header_(std::move(header))
{
}

void ModuleRecord::taken(const modbus::Reading& r, Change change, bool inDischarge,
                         const discharge::TestModel& model)
{
    if (change == Change::Started) {
        // The module was cleared or switched on again: the discharge before
        // is a test of its own, with the figures the model closed it with.
        if (open_ && model.previous()) writer_.finish(*open_, *model.previous());
        open_.reset();
        begin(r);
    }
    if (!open_) return;
    if (inDischarge) writer_.append(*open_, discharge::sampleOf(r));
    writer_.update(*open_, model.summary());
}

void ModuleRecord::missed(const discharge::TestModel& model)
{
    if (open_) writer_.update(*open_, model.summary());
}

void ModuleRecord::finish(const discharge::Summary& figures)
{
    if (!open_) return;
    writer_.finish(*open_, figures);
    open_.reset();
}

// The presets are those the module held at the discharge's first reply.
void ModuleRecord::begin(const modbus::Reading& r)
{
    library::TestHeader h = header_;
    h.uuid = QUuid();
    h.startMsecs = r.time.toMSecsSinceEpoch();
    h.presets = {r.currentPreset, r.cutoffPreset, r.powerPreset};
    open_ = writer_.begin(std::move(h));
    tests_ << *open_;
}

} // namespace eload::cli
