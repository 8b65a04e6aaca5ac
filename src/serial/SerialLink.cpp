#include "serial/SerialLink.h"

#include "acquisition/AcquisitionState.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"

namespace eload {

namespace {

const QString& probeMessage(const SerialError& e)
{
    switch (e.number) {
    case SerialError::kNoSuchPort: return texts::kNoSuchPort;
    case SerialError::kPortInUse: return texts::kPortInUse;
    default: return texts::kOtherError;
    }
}

// "<device>: <cause>", and the remedy on a line of its own.
QString failureDetail(const QString& path, const SerialError& e)
{
    QString detail = path.isEmpty() ? e.cause : QStringLiteral("%1: %2").arg(path, e.cause);
    if (!e.remedy.isEmpty()) detail += u'\n' + e.remedy;
    return detail;
}

} // namespace

SerialLink::SerialLink(Context& ctx) : ctx_(ctx) {}

bool SerialLink::portOpen() const { return ctx_.panel.text(Ctl::Command1) == texts::kClosePort; }

std::int16_t SerialLink::pickedPort() const
{
    return std::int16_t(ctx_.panel.listIndex(Ctl::Combo1) + 1);
}

void SerialLink::Command1_Click()
{
    if (portOpen())
        closePort();
    else
        openPortFromPanel();
}

void SerialLink::Combo1_Click()
{
    const std::int16_t n = pickedPort();
    ctx_.panel.setToolTip(Ctl::Combo1, ctx_.port.pathOf(n));
    if (n == ctx_.state.SelectedPort) return;
    if (ctx_.state.OpenPortNumber != 0) closePort();
    ctx_.state.SelectedPort = n;
}

void SerialLink::Combo2_Click()
{
    if (portOpen()) Command1_Click();
}

bool SerialLink::TestPort(std::int16_t port)
{
    const std::optional<SerialError> e = ctx_.port.probe(port);
    if (!e) return true;
    ctx_.panel.showMessage(probeMessage(*e), e->remedy);
    return false;
}

std::optional<SerialError> SerialLink::OpenPort(std::int16_t port)
{
    return ctx_.port.open(port, ctx_.state.PortSettings);
}

// The window claims an open port only once the device has opened.
void SerialLink::openPortFromPanel()
{
    if (!TestPort(pickedPort())) return;
    takeLineSettings();
    const std::int16_t port = pickedPort();
    if (const std::optional<SerialError> e = OpenPort(port)) {
        ctx_.panel.showMessage(texts::kOpenFailed, failureDetail(ctx_.port.pathOf(port), *e));
        return;
    }
    showOpen(port);
    fillPresetDefaults();
}

void SerialLink::takeLineSettings()
{
    const QString parity = ctx_.panel.text(Ctl::Combo3);
    if (parity == texts::kNoParity)
        ctx_.state.ParityLetter = QStringLiteral("N");
    else if (parity == texts::kOddParity)
        ctx_.state.ParityLetter = QStringLiteral("O");
    else if (parity == texts::kEvenParity)
        ctx_.state.ParityLetter = QStringLiteral("E");
    ctx_.state.PortSettings = ctx_.panel.text(Ctl::Combo2) + u',' + ctx_.state.ParityLetter + u',' +
                              ctx_.panel.text(Ctl::Combo4) + u',' + ctx_.panel.text(Ctl::Combo5);
}

void SerialLink::showOpen(std::int16_t port)
{
    ctx_.panel.setText(Ctl::Command1, texts::kClosePort);
    ctx_.panel.setBackColor(Ctl::Shape1, kGreen);
    ctx_.state.OpenPortNumber = port;
}

void SerialLink::fillPresetDefaults()
{
    ctx_.panel.setText(Ctl::Text3, QString::number(2.0, 'f', 2));
    ctx_.panel.setText(Ctl::Text4, QString::number(1.0, 'f', 2));
    ctx_.panel.setText(Ctl::Text5, QString::number(100.0, 'f', 2));
}

void SerialLink::closePort()
{
    stopAcquisition(ctx_.panel, ctx_.state);
    ctx_.port.close();
    ctx_.panel.setText(Ctl::Command1, texts::kOpenPort);
    ctx_.panel.setBackColor(Ctl::Shape1, kBlack);
    ctx_.state.OpenPortNumber = 0;
    ctx_.panel.setText(Ctl::Text3, QString());
    ctx_.panel.setText(Ctl::Text4, QString());
    ctx_.panel.setText(Ctl::Text5, QString());
}

void SerialLink::lineFailed(const SerialError& e)
{
    if (!portOpen()) return;
    const QString path = ctx_.port.pathOf(ctx_.state.OpenPortNumber);
    closePort();
    ctx_.panel.showMessage(texts::kPortLost, failureDetail(path, e));
}

} // namespace eload
