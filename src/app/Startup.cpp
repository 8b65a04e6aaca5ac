#include "app/Startup.h"

#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/ProgramFolder.h"
#include "core/Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>
#include <cmath>

namespace eload {

namespace {

constexpr int kPortEntries = 9;    // COM1 to COM9
constexpr int kNewAddresses = 254; // Combo_Addr(0): an address the module may take
constexpr int kSlaveIds = 255;     // Combo_Addr(2)
constexpr int kPresetLength = 5;

// What start-up assumes when the file cannot tell: no port, 9600 Bd.
const SavedPorts kNoSavedPorts{QStringLiteral("0"), QStringLiteral("9600")};

QString withoutLineEnd(QByteArray line)
{
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return QString::fromLatin1(line);
}

// The decimal number a text begins with, after blanks: sign, digits and a
// fraction; 0 when it begins with none.
double leadingNumber(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    const auto digits = [&] {
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9')
            ++i;
    };
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    digits();
    if (i < s.size() && s[i] == u'.') ++i;
    digits();
    bool ok = false;
    const double v = s.mid(start, i - start).toDouble(&ok);
    return ok ? v : 0.0;
}

} // namespace

QString settingsFilePath(const QString& appFolder, const QString& configFolder)
{
    const QString name = QStringLiteral("com.txt");
    if (programFolderUse(appFolder) == FolderUse::Own) return QDir(appFolder).filePath(name);
    return QDir(configFolder).filePath(QStringLiteral("eload-panel/") + name);
}

std::optional<SavedPorts> readSavedPorts(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            qWarning().noquote()
                << QStringLiteral("eload-panel: cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray first = file.readLine();
    const QByteArray second = file.readLine();
    if (first.isEmpty() || second.isEmpty()) return std::nullopt;
    return SavedPorts{withoutLineEnd(first), withoutLineEnd(second)};
}

std::optional<QString> writeSavedPorts(const QString& path, const SavedPorts& lines)
{
    // An installed panel's first exit: no folder of ours in ~/.config yet.
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written aside and renamed over the old file, so that a failure leaves
    // the old settings whole; in place where the folder does not allow that.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    const QByteArray content =
        (lines.portLine + QStringLiteral("\r\n") + lines.baudLine + QStringLiteral("\r\n"))
            .toLatin1();
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<int> portListPosition(const QString& portLine)
{
    // Rounded half to even, as the 16-bit conversion of the original does.
    const double position = std::nearbyint(leadingNumber(portLine) - 1);
    if (position < -1 || position >= kPortEntries) return std::nullopt;
    return int(position);
}

Startup::Startup(Context& ctx, std::function<void()> combo1Click, QString settingsPath,
                 QString appFolder)
    : ctx_(ctx), combo1Click_(std::move(combo1Click)), settingsPath_(std::move(settingsPath)),
      appFolder_(std::move(appFolder))
{
}

void Startup::Form_Load()
{
    // A file that cannot tell the port starts the panel with none selected,
    // as a saved 0 would.
    SavedPorts saved = readSavedPorts(settingsPath_).value_or(kNoSavedPorts);
    std::optional<int> position = portListPosition(saved.portLine);
    if (!position) {
        saved.portLine = kNoSavedPorts.portLine;
        position = -1;
    }
    ctx_.state.AppFolder = appFolder_;
    showSavedPort(saved);
    fixSerialLists();
    presetModuleBaud();
    selectSavedPort(*position);
    fillAddressLists();
    limitPresetFields();
    // Start-up has LoadState 0: the load is off, so data may be cleared.
    ctx_.panel.setEnabled(Ctl::Command4, true);
    resetFlags();
}

void Startup::Form_QueryUnload()
{
    const SavedPorts lines{QString::number(ctx_.panel.listIndex(Ctl::Combo1) + 1),
                           ctx_.panel.text(Ctl::Combo2)};
    // The window closes regardless; the failure is told where it can be seen.
    if (const std::optional<QString> error = writeSavedPorts(settingsPath_, lines))
        qWarning().noquote() << QStringLiteral("eload-panel: port settings not saved to %1: %2")
                                    .arg(QFileInfo(settingsPath_).absoluteFilePath(), *error);
}

void Startup::showSavedPort(const SavedPorts& saved)
{
    ctx_.panel.setText(Ctl::Combo1, QStringLiteral("COM") + saved.portLine);
    ctx_.panel.setText(Ctl::Combo2, saved.baudLine);
}

// Parity, data and stop bits are fixed for the run; the lists are disabled.
void Startup::fixSerialLists()
{
    ctx_.panel.setText(Ctl::Combo3, texts::kNoParity);
    ctx_.panel.setText(Ctl::Combo4, QStringLiteral("8"));
    ctx_.panel.setText(Ctl::Combo5, QStringLiteral("1"));
}

// The module's own rate starts at the list's second entry, 9600.
void Startup::presetModuleBaud()
{
    ctx_.panel.setText(Ctl::Combo6, ctx_.panel.listItem(Ctl::Combo6, 1));
}

// Setting the position raises no handler on the panel; the form's own click
// handler takes the port over as the list's click would.
void Startup::selectSavedPort(int position)
{
    ctx_.panel.setListIndex(Ctl::Combo1, position);
    if (combo1Click_) combo1Click_();
}

void Startup::fillAddressLists()
{
    for (int a = 1; a <= kNewAddresses; ++a)
        ctx_.panel.addItem(Ctl::Combo_Addr0, QString::number(a));
    for (int a = 1; a <= kSlaveIds; ++a)
        ctx_.panel.addItem(Ctl::Combo_Addr2, QString::number(a));
    ctx_.panel.setText(Ctl::Combo_Addr0, QStringLiteral("1"));
    ctx_.panel.setText(Ctl::Combo_Addr2, QStringLiteral("1"));
}

void Startup::limitPresetFields()
{
    for (Ctl c : {Ctl::Text3, Ctl::Text4, Ctl::Text5})
        ctx_.panel.setMaxLength(c, kPresetLength);
}

void Startup::resetFlags()
{
    ctx_.state.ResumePolling = 0;
    ctx_.state.RecordFlag = QStringLiteral("0");
}

} // namespace eload
