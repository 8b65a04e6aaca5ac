#include "cli/ModuleCommands.h"

#include "cli/Bus.h"
#include "cli/Console.h"
#include "cli/Output.h"
#include "modbus/Formats.h"
#include "reader/RecordingFile.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <functional>

namespace eload::cli {

namespace {

using namespace modbus;
using ReadResult = std::variant<Reading, ExchangeError>;

ReadResult readReading(Bus& bus, std::uint8_t address)
{
    auto block = bus.readBlock(address);
    if (auto* e = std::get_if<ExchangeError>(&block)) return *e;
    return readingFromRegisters(std::get<RegisterBlock>(block), QDateTime::currentDateTime());
}

// Runs `one` for every module named; the worst status wins.
int eachModule(const Invocation& inv, const std::function<int(std::uint8_t)>& one)
{
    int status = kDone;
    for (std::uint8_t a : inv.addresses)
        status = std::max(status, one(a));
    return status;
}

int noAnswer(const ExchangeError& e)
{
    printError(e.message);
    return kNoAnswer;
}

QString presetsText(const RegisterBlock& raw)
{
    const std::optional<int> baud = baudOfCode(raw[RegBaudCode]);
    return QStringLiteral("current preset %1, cut-off %2, power preset %3, module baud %4, load %5")
        .arg(currentText(raw[RegCurrentPreset]), voltageText(raw[RegCutoffPreset]),
             powerText(raw[RegPowerPreset]),
             baud ? QStringLiteral("%1 Bd").arg(*baud)
                  : QStringLiteral("code %1").arg(raw[RegBaudCode]),
             raw[RegLoadSwitch] == 1 ? QStringLiteral("on") : QStringLiteral("off"));
}

// Registers 13..17 as the write will carry them: the changes over what the
// module holds, its load switch as read just before.
PresetWords presetWords(const PresetChange& c, const RegisterBlock& raw)
{
    return {c.current.value_or(raw[RegCurrentPreset]), c.cutoff.value_or(raw[RegCutoffPreset]),
            c.power.value_or(raw[RegPowerPreset]), c.baudCode.value_or(raw[RegBaudCode]),
            raw[RegLoadSwitch]};
}

bool holds(const RegisterBlock& raw, const PresetWords& w)
{
    return raw[RegCurrentPreset] == w.current && raw[RegCutoffPreset] == w.cutoff &&
           raw[RegPowerPreset] == w.power && raw[RegBaudCode] == w.baudCode;
}

int setOne(Bus& bus, const PresetChange& change, std::uint8_t a)
{
    const ReadResult before = readReading(bus, a);
    if (auto* e = std::get_if<ExchangeError>(&before)) return noAnswer(*e);
    const RegisterBlock& raw = std::get<Reading>(before).raw;
    const PresetWords words = presetWords(change, raw);
    if (auto e = bus.writePresets(a, words)) return noAnswer(*e);
    if (words.baudCode != raw[RegBaudCode]) {
        const int baud = *baudOfCode(words.baudCode);
        printOut(QStringLiteral("address %1: presets written; the module now listens at %2 Bd "
                                "(give --baud %2 from now on)\n")
                     .arg(a)
                     .arg(baud));
        return kDone;
    }
    const ReadResult after = readReading(bus, a);
    if (auto* e = std::get_if<ExchangeError>(&after)) return noAnswer(*e);
    const RegisterBlock& now = std::get<Reading>(after).raw;
    if (!holds(now, words)) {
        printError(QStringLiteral("address %1: the module did not take the presets; it holds %2")
                       .arg(a)
                       .arg(presetsText(now)));
        return kFailed;
    }
    printOut(QStringLiteral("address %1: %2\n").arg(a).arg(presetsText(now)));
    return kDone;
}

int switchOne(Bus& bus, std::uint8_t a, bool on)
{
    if (auto e = bus.switchLoad(a, on)) return noAnswer(*e);
    const ReadResult after = readReading(bus, a);
    if (auto* e = std::get_if<ExchangeError>(&after)) return noAnswer(*e);
    const Reading& r = std::get<Reading>(after);
    const QString state = r.loadOn ? QStringLiteral("on") : QStringLiteral("off");
    if (r.loadOn != on) {
        const std::optional<QString> protection = protectionText(r.protection);
        printError(QStringLiteral("address %1: the load reads %2 after switching it %3%4")
                       .arg(a)
                       .arg(state, on ? QStringLiteral("on") : QStringLiteral("off"),
                            r.protection != ProtectionNone && protection
                                ? QStringLiteral(" (protection %1)").arg(protection->trimmed())
                                : QString()));
        return kFailed;
    }
    printOut(QStringLiteral("address %1: load %2\n").arg(a).arg(state));
    return kDone;
}

int clearOne(Bus& bus, std::uint8_t a)
{
    const ReadResult before = readReading(bus, a);
    if (auto* e = std::get_if<ExchangeError>(&before)) return noAnswer(*e);
    if (std::get<Reading>(before).loadOn) {
        printError(QStringLiteral("address %1: the load is on and its counters are running; "
                                  "switch it off before clearing them")
                       .arg(a));
        return kFailed;
    }
    if (auto e = bus.clearData(a)) return noAnswer(*e);
    const ReadResult after = readReading(bus, a);
    if (auto* e = std::get_if<ExchangeError>(&after)) return noAnswer(*e);
    const RegisterBlock& raw = std::get<Reading>(after).raw;
    printOut(QStringLiteral("address %1: cleared: capacity %2, energy %3, discharge time %4\n")
                 .arg(a)
                 .arg(capacityText(registerPair(raw, RegCapacityHigh)),
                      energyText(registerPair(raw, RegEnergyHigh)),
                      dischargeTimeText(raw[RegHours], raw[RegMinutes], raw[RegSeconds])));
    return kDone;
}

} // namespace

int readValues(Bus& bus, const Invocation& inv)
{
    std::vector<ModuleColumn> columns;
    if (inv.format == Format::Csv) printOut(csvHeaderWithAddress() + u'\n');
    const int status = eachModule(inv, [&](std::uint8_t a) {
        const ReadResult r = readReading(bus, a);
        if (auto* e = std::get_if<ExchangeError>(&r)) {
            columns.push_back({a, std::nullopt, failureText(e->kind)});
            if (inv.format == Format::Json)
                printOut(jsonLine(failureJson(a, QDateTime::currentDateTime(), failureText(e->kind),
                                              e->message)));
            return noAnswer(*e);
        }
        const Reading& reading = std::get<Reading>(r);
        columns.push_back({a, reading, {}});
        if (inv.format == Format::Json) printOut(jsonLine(readingJson(a, reading)));
        if (inv.format == Format::Csv) printOut(csvRowWithAddress(a, reading) + u'\n');
        return int(kDone);
    });
    if (inv.format == Format::People) printOut(valuesTable(columns));
    return status;
}

int setPresets(Bus& bus, const Invocation& inv)
{
    return eachModule(inv, [&](std::uint8_t a) { return setOne(bus, inv.presets, a); });
}

int switchLoad(Bus& bus, const Invocation& inv, bool on)
{
    return eachModule(inv, [&](std::uint8_t a) { return switchOne(bus, a, on); });
}

int clearData(Bus& bus, const Invocation& inv)
{
    return eachModule(inv, [&](std::uint8_t a) { return clearOne(bus, a); });
}

namespace {

// One address that answered a scan: its reading, or replies that came but
// failed their checks (several modules sharing the address garble them).
struct ScanHit {
    std::uint8_t address = 0;
    std::optional<Reading> reading;
    ExchangeError garbled{Failure::BadCrc, {}};
};

std::vector<std::uint8_t> everyAddress()
{
    std::vector<std::uint8_t> all;
    for (int a = 1; a <= kLastAddress; ++a)
        all.push_back(std::uint8_t(a));
    return all;
}

// On a terminal, how far the scan has come, rewritten in place on stderr.
void showProgress(std::size_t done, std::size_t total)
{
    if (!stderrIsTerminal() || (done % 16 != 0 && done != total)) return;
    printProgress(QStringLiteral("scanning: %1 of %2 addresses asked").arg(done).arg(total),
                  done == total);
}

std::vector<ScanHit> scanLine(Bus& bus, const std::vector<std::uint8_t>& addresses)
{
    printError(QStringLiteral("scanning %1 address(es) on %2: about %3 s")
                   .arg(addresses.size())
                   .arg(bus.line().text())
                   .arg(std::lround(bus.scanTime(int(addresses.size())).count() / 1000.0)));
    std::vector<ScanHit> hits;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::uint8_t a = addresses[i];
        auto block = bus.scanBlock(a);
        if (auto* e = std::get_if<ExchangeError>(&block)) {
            if (e->kind == Failure::LineDown) {
                printError(e->message);
                break;
            }
            if (e->kind != Failure::NoAnswer) hits.push_back({a, std::nullopt, *e});
        } else {
            hits.push_back(
                {a,
                 readingFromRegisters(std::get<RegisterBlock>(block), QDateTime::currentDateTime()),
                 {}});
        }
        showProgress(i + 1, addresses.size());
    }
    return hits;
}

QString addressList(const std::vector<ScanHit>& hits)
{
    QStringList list;
    for (const ScanHit& h : hits)
        list << QString::number(h.address);
    return list.join(QStringLiteral(", "));
}

QString garbledText(const ScanHit& h)
{
    return QStringLiteral("address %1: replies fail their checks (%2): more than one module may "
                          "have this address")
        .arg(h.address)
        .arg(failureText(h.garbled.kind));
}

// Every module on the line takes the broadcast, so it goes out only when a
// scan finds exactly one module there (or the user says --yes); the old
// address must then be silent and the new one answer.
int refuseChange(const std::vector<ScanHit>& hits, std::uint8_t next)
{
    if (hits.empty()) {
        printError(QStringLiteral("no module answers on the line; nothing sent"));
        return kNoAnswer;
    }
    if (hits.size() == 1 && !hits[0].reading) {
        printError(garbledText(hits[0]) + QStringLiteral("; nothing sent"));
        return kBadUsage;
    }
    printError(QStringLiteral("the scan found %1 modules on the line (at %2): the broadcast would "
                              "give every one of them address %3; connect only the module to "
                              "change, or say --yes")
                   .arg(hits.size())
                   .arg(addressList(hits))
                   .arg(next));
    return kBadUsage;
}

} // namespace

int scanModules(Bus& bus, const Invocation& inv)
{
    const std::vector<ScanHit> hits =
        scanLine(bus, inv.addressesGiven ? inv.addresses : everyAddress());
    if (inv.format == Format::People && !hits.empty()) printOut(valuesLineHeader() + u'\n');
    for (const ScanHit& h : hits) {
        if (inv.format == Format::Json) {
            printOut(jsonLine(h.reading
                                  ? readingJson(h.address, *h.reading)
                                  : failureJson(h.address, QDateTime::currentDateTime(),
                                                failureText(h.garbled.kind), garbledText(h))));
        } else {
            printOut((h.reading ? valuesLine(h.address, *h.reading) : garbledText(h)) + u'\n');
        }
    }
    printError(
        hits.empty()
            ? QStringLiteral("no module answers")
            : QStringLiteral("%1 address(es) answer: %2").arg(hits.size()).arg(addressList(hits)));
    return hits.empty() ? kNoAnswer : kDone;
}

int changeAddress(Bus& bus, const Invocation& inv)
{
    const std::uint8_t next = inv.newAddress;
    std::uint8_t old = inv.addresses.front();
    if (!inv.yes) {
        const std::vector<ScanHit> hits = scanLine(bus, everyAddress());
        if (hits.size() != 1 || !hits[0].reading) return refuseChange(hits, next);
        old = hits[0].address;
        if (old == next) {
            printOut(QStringLiteral("the module answers at address %1 already; nothing sent\n")
                         .arg(next));
            return kDone;
        }
    }
    const bool echoed = bus.changeAddress(next);
    if (old != next && std::holds_alternative<RegisterBlock>(bus.readBlock(old))) {
        printError(QStringLiteral("a module still answers at the old address %1 after the "
                                  "broadcast: the change did not take")
                       .arg(old));
        return kFailed;
    }
    const ReadResult check = readReading(bus, next);
    if (auto* e = std::get_if<ExchangeError>(&check)) {
        const bool collide = e->kind == Failure::BadCrc || e->kind == Failure::WrongReply;
        printError(collide ? QStringLiteral("the replies at address %1 collide: more than one "
                                            "module took the new address (%2)")
                                 .arg(next)
                                 .arg(e->message)
                           : QStringLiteral("no module answers at the new address after the "
                                            "broadcast: %1")
                                 .arg(e->message));
        return collide ? kFailed : kNoAnswer;
    }
    printOut(QStringLiteral("address %1 is silent now; the module answers at address %2%3\n")
                 .arg(old)
                 .arg(next)
                 .arg(echoed ? QString() : QStringLiteral(" (the broadcast was not echoed)")));
    return kDone;
}

int reportRecordings(const Invocation& inv)
{
    int status = kDone;
    for (const QString& file : inv.files) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable()) {
            printError(QStringLiteral("%1: %2").arg(file, info.exists()
                                                              ? QStringLiteral("cannot be read")
                                                              : QStringLiteral("no such file")));
            status = kFailed;
            continue;
        }
        const reader::ReadResult r = reader::readRecording(file);
        if (auto* e = std::get_if<reader::ReadError>(&r)) {
            printError(e->englishMessage());
            status = kFailed;
            continue;
        }
        const auto& recording = std::get<reader::Recording>(r);
        for (const reader::ReadError& w : recording.warnings)
            printError(QStringLiteral("warning: ") + w.englishMessage());
        for (const reader::RecordedCurve& curve : recording.curves) {
            const discharge::Summary s = reader::summarize(curve);
            printOut(inv.format == Format::Json
                         ? jsonLine(recordingSummaryJson(file, curve.address, s))
                         : recordingSummaryText(file, curve.address, s).toUtf8());
        }
    }
    return status;
}

} // namespace eload::cli
