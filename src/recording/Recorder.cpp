#include "recording/Recorder.h"

#include "core/Clock.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/ProgramFolder.h"
#include "core/Texts.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

namespace eload {

namespace {

const QString kFlagOn = QStringLiteral("1");
const QString kFlagOff = QStringLiteral("0");

QString withRemedy(const RecordFailure& f, const QString& remedy)
{
    return f.message + QLatin1Char('\n') + remedy;
}

QString nativeLines(const QStringList& paths)
{
    QStringList native;
    for (const QString& p : paths)
        native.append(QDir::toNativeSeparators(p));
    return native.join(QLatin1Char('\n'));
}

} // namespace

RecordRow rowFromPanel(const Panel& panel, int number, const QDateTime& t)
{
    const QString discharge = QLatin1Char(' ') + panel.text(Ctl::Label17_0) + QLatin1Char(':') +
                              panel.text(Ctl::Label17_1) + QLatin1Char(':') +
                              panel.text(Ctl::Label17_2);
    return {number,
            {rowTimeText(t), panel.text(Ctl::AI_SHOW0), panel.text(Ctl::AI_SHOW1),
             panel.text(Ctl::AI_SHOW2), panel.text(Ctl::AI_SHOW7), panel.text(Ctl::AI_SHOW5),
             panel.text(Ctl::AI_SHOW3), panel.text(Ctl::AI_SHOW4), discharge}};
}

QStringList recordingFolders(const QString& appFolder, const QString& documentsFolder)
{
    if (programFolderUse(appFolder) == FolderUse::Own) return {appFolder, documentsFolder};
    return {documentsFolder};
}

QString whyNotBesideProgram(const QString& appFolder)
{
    switch (programFolderUse(appFolder)) {
    case FolderUse::System: return texts::kProgramFolderIsSystem;
    case FolderUse::OtherUser: return texts::kProgramFolderNotOwn;
    // An own folder that refused the journal is one that could not be written.
    case FolderUse::Own:
    case FolderUse::NotWritable: break;
    }
    return texts::kProgramFolderNotWritable;
}

Recorder::Recorder(Context& ctx, RecorderOptions options)
    : ctx_(ctx), options_(std::move(options)), recording_(options_.makeSpreadsheet)
{
    QObject::connect(&recording_, &WorkbookRecording::bookStarted, &recording_,
                     [this](const QString& path) { bookStarted(path); });
    QObject::connect(&recording_, &WorkbookRecording::bookSaved, &recording_,
                     [this](const QString& path) { bookSaved(path); });
    QObject::connect(&recording_, &WorkbookRecording::writeFailed, &recording_,
                     [this](const RecordingError& e) { writeFailed(e); });
}

// An open journal is closed, not removed: the next start recovers it.
Recorder::~Recorder() = default;

QString Recorder::openBookName() const
{
    const QString path = recording_.bookPath();
    return path.isEmpty()
               ? path
               : QDir(QFileInfo(path).path()).filePath(QFileInfo(path).completeBaseName());
}

bool Recorder::rowsSynced() const { return recording_.rowsSynced(); }

QString Recorder::recordingFolder() const
{
    return ctx_.state.AppFolder.isEmpty() ? options_.appFolder : ctx_.state.AppFolder;
}

QStringList Recorder::candidateFolders() const
{
    return clockNamedBooks(recordingFolders(recordingFolder(), options_.documentsFolder), {})
        .folders;
}

bool Recorder::besideProgram(const QString& path) const
{
    return QDir::cleanPath(QFileInfo(path).path()) == QDir::cleanPath(recordingFolder());
}

void Recorder::Command6_Click()
{
    clickCommand6();
    tellSavedOutside(texts::kRecordSavedOutside);
}

void Recorder::clickCommand6()
{
    Panel& panel = ctx_.panel;
    if (panel.text(Ctl::Command1) != texts::kClosePort) {
        panel.setText(Ctl::Command6, texts::kRecord);
        panel.showMessage(texts::kOpenPortFirst);
        return;
    }
    if (panel.text(Ctl::Command6) == texts::kRecord) {
        startRecording();
        return;
    }
    if (ctx_.state.RecordFlag == kFlagOn && saveOrHold()) {
        panel.setText(Ctl::Command6, texts::kRecord);
        ctx_.state.RecordFlag = kFlagOff;
    }
}

void Recorder::startRecording()
{
    // A recording whose save was put off (a click while the port was closed
    // reset the caption) is saved before its journal would be replaced.
    if (ctx_.state.RecordFlag == kFlagOn) {
        if (!saveOrHold()) return;
        ctx_.state.RecordFlag = kFlagOff;
    }
    ctx_.panel.setText(Ctl::Command6, texts::kRecording);
    if (const auto failure = StartRecordBook()) {
        endRecording(*failure);
        return;
    }
    ctx_.state.RecordFlag = kFlagOn;
}

// Saves; a failure leaves the recording waiting for "保 存" with every row.
bool Recorder::saveOrHold()
{
    const auto failure = SaveRecordBook();
    if (failure) holdForSave(*failure);
    return !failure;
}

void Recorder::holdForSave(const RecordFailure& failure)
{
    ctx_.panel.setText(Ctl::Command6, texts::kSave);
    ctx_.panel.setEnabled(Ctl::Command6, true);
    ctx_.panel.showMessage(texts::kRecordSaveFailed, withRemedy(failure, texts::kRecordRowsKept));
}

void Recorder::endRecording(const RecordFailure& failure)
{
    ctx_.panel.setText(Ctl::Command6, texts::kRecord);
    ctx_.panel.setEnabled(Ctl::Command6, true);
    ctx_.state.RecordFlag = kFlagOff;
    ctx_.panel.showMessage(texts::kRecordStartFailed, failure.message);
}

std::optional<RecordFailure> Recorder::StartRecordBook()
{
    ctx_.state.NextRow = QString::number(kFirstDataRow);
    ctx_.panel.setEnabled(Ctl::Command6, false);
    return recording_.start(clockNamedBooks(candidateFolders(), options_.documentsFolder,
                                            [this] { return ctx_.clock.now(); }));
}

// At the start and at each roll-over.
void Recorder::bookStarted(const QString& path)
{
    const QFileInfo book(path);
    ctx_.state.NextRow = QString::number(recording_.nextRow());
    ctx_.state.BookName = book.completeBaseName();
    ctx_.panel.setEnabled(Ctl::Command6, false);
    if (!besideProgram(path))
        ctx_.panel.setText(Ctl::Message_Show,
                           texts::kRecordingInFolder.arg(whyNotBesideProgram(recordingFolder()),
                                                         QDir::toNativeSeparators(book.path())));
}

// Where the workbook went stays readable: in the button's tip always, and in a
// box when it is not beside the program (the line in Message_Show is gone with
// the next poll), at shutdown too: the window is about to go.
void Recorder::bookSaved(const QString& path)
{
    ctx_.panel.setToolTip(Ctl::Command6, texts::kLastRecordTip.arg(QDir::toNativeSeparators(path)));
    savedOutside_.append(path);
}

// Once the step is done: a box's own event loop may deliver the next rows.
void Recorder::tellSavedOutside(const QString& text)
{
    QStringList outside;
    for (const QString& p : std::exchange(savedOutside_, {}))
        if (!besideProgram(p)) outside.append(p);
    if (!outside.isEmpty())
        ctx_.panel.showMessage(text.arg(whyNotBesideProgram(recordingFolder())),
                               nativeLines(outside));
}

void Recorder::writeFailed(const RecordingError& error)
{
    ctx_.panel.showMessage(texts::kRecordWriteFailed, withRemedy(error, texts::kRecordRowsHeld));
}

void Recorder::WriteRow()
{
    if (ctx_.panel.text(Ctl::Command6) != texts::kRecording || !recording_.isOpen()) return;
    const int r = recording_.nextRow();
    const auto failure = recording_.append(rowFromPanel(ctx_.panel, r - 1, ctx_.clock.now()));
    ctx_.state.NextRow = QString::number(recording_.nextRow());
    if (failure && recording_.isHeld()) holdForSave(*failure);
    if (failure && !recording_.isHeld()) endRecording(*failure);
    tellSavedOutside(texts::kRecordSavedOutside);
}

std::optional<RecordFailure> Recorder::SaveRecordBook() { return recording_.save(); }

void Recorder::saveAtShutdown()
{
    if (ctx_.state.RecordFlag != kFlagOn) return;
    const auto failure = SaveRecordBook();
    if (failure) {
        recording_.close(); // the journal stays on disk for the next start
        ctx_.panel.showMessage(texts::kRecordSaveFailed,
                               withRemedy(*failure, texts::kRecordRowsKeptForStart));
    }
    tellSavedOutside(texts::kRecordSavedOutside);
}

void Recorder::recoverUnfinished()
{
    QStringList books;
    QStringList failures;
    for (const QString& folder : candidateFolders()) {
        const Recovery done = WorkbookRecording::recoverFolder(folder, options_.makeSpreadsheet);
        books += done.books;
        failures += done.failures;
    }
    if (!books.isEmpty()) {
        QStringList stems;
        for (const QString& b : books)
            stems.append(QFileInfo(b).completeBaseName());
        ctx_.panel.setText(Ctl::Message_Show,
                           texts::kRecordsRecovered.arg(stems.join(QStringLiteral("、"))));
        ctx_.panel.setToolTip(Ctl::Command6,
                              texts::kLastRecordTip.arg(QDir::toNativeSeparators(books.last())));
        savedOutside_ = books;
        tellSavedOutside(texts::kRecordsRecoveredOutside);
    }
    if (!failures.isEmpty())
        ctx_.panel.showMessage(texts::kRecordSaveFailed, failures.join(QLatin1Char('\n')) +
                                                             QLatin1Char('\n') +
                                                             texts::kRecordRowsKeptForStart);
}

} // namespace eload
