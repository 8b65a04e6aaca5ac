// eload-panel: the control panel's window over the real serial line.

#include "app/Form.h"
#include "app/Options.h"
#include "app/QtTranslations.h"
#include "app/TestActivity.h"
#include "chart/ChartOpener.h"
#include "chart/ChartWindow.h"
#include "core/Clock.h"
#include "core/TerminationSignals.h"
#include "core/Texts.h"
#include "desktop/SleepInhibitor.h"
#include "library/TestWriter.h"
#include "libraryview/LibraryWindow.h"
#include "serial/QtSerialDevice.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QStandardPaths>
#include <cstdio>
#include <memory>

namespace {

constexpr int kWriterStopMs = 10'000;

int printTo(std::FILE* stream, const QString& text, int exitCode)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace eload;
    // Before QApplication: --help and --version must work without a display.
    ParsedOptions parsed = parseOptions(argc, argv, PortMap::fromEnvironment());
    if (!parsed.error.isEmpty())
        return printTo(
            stderr,
            QStringLiteral("eload-panel: %1\nTry 'eload-panel --help'.\n").arg(parsed.error), 2);
    Options& options = parsed.options;
    if (options.action == Options::Action::Help) return printTo(stdout, helpText(), 0);
    if (options.action == Options::Action::Version) return printTo(stdout, versionText(), 0);

    int qtArgc = int(options.qtArguments.size());
    options.qtArguments.push_back(nullptr);
    QApplication app(qtArgc, options.qtArguments.data());
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/eload-panel.png"))); // packaging/
    installChineseQtTexts(app); // "确定", not "OK"; English when they are not installed

    QtSerialDevice port(options.ports);
    SystemClock clock;
    frmmain window;
    FormOptions formOptions;
    formOptions.appFolder = QCoreApplication::applicationDirPath();
    formOptions.settingsPath =
        settingsFilePath(formOptions.appFolder,
                         QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    Form form(window, port, clock, formOptions);
    window.setEvents(&form);
    // No suspend while the load drains a battery or rows are recorded.
    desktop::SleepInhibitor keepAwake(QStringLiteral("eload-panel"), texts::kKeepAwakeReason);
    holdWhileTesting(window, keepAwake);
    // Logging out, a service stop or Ctrl+C close the window as its close button does.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window,
                     &frmmain::closeUnattended);
    form.Form_Load();
    window.show();
    // --chart: the discharge curve beside the panel, fed by the form; it never sends.
    // Each discharge it finds goes into the test library, off the event thread.
    std::unique_ptr<library::TestWriter> testWriter;
    // The test library's window (--library, or the chart's 电池库 button): one
    // at a time, beside what asked for it; a database that cannot be opened
    // is said in that window.
    QPointer<libraryview::LibraryWindow> libraryWindow;
    const auto showLibrary = [&](QWidget* near) {
        if (!libraryWindow) {
            libraryWindow = libraryview::openLibraryWindow(options.database, near);
            return;
        }
        libraryWindow->showNormal();
        libraryWindow->raise();
        libraryWindow->activateWindow();
    };
    std::unique_ptr<chart::ChartWindow> chartWindow;
    if (options.chart) {
        chartWindow = std::make_unique<chart::ChartWindow>();
        form.setReadingSink(&chartWindow->feed());
        auto location = library::parseLocation(options.database);
        if (const auto* f = library::failureOf(location)) {
            printTo(stderr,
                    QStringLiteral("eload-panel: the test library: %1; discharges are not "
                                   "recorded\n")
                        .arg(f->message),
                    0);
            chartWindow->showLibraryUnusable(f->message);
        } else {
            library::WriterOptions writing;
            writing.location = std::get<library::DatabaseLocation>(location);
            testWriter = std::make_unique<library::TestWriter>(std::move(writing));
            chartWindow->recordInto(*testWriter,
                                    chart::panelLine(window, form.state(), options.ports));
        }
        QObject::connect(chartWindow.get(), &chart::ChartWindow::libraryRequested,
                         chartWindow.get(), [&] { showLibrary(chartWindow.get()); });
        chartWindow->showBeside(window);
        chart::addChartOpener(window, *chartWindow); // Ctrl+G opens it again once closed
    }
    if (options.library) showLibrary(&window);
    const int rc = app.exec();
    delete libraryWindow; // still open: its reading thread ends before the application
    // The form goes first; the window must not call into it while it is torn down.
    window.setEvents(nullptr);
    // What the database has not taken by then stays in the spool for the next start.
    if (testWriter && !testWriter->stop(kWriterStopMs))
        printTo(stderr,
                QStringLiteral("eload-panel: not all of the recording reached the test library "
                               "within %1 s; what reached its spool (%2) is stored at the next "
                               "start\n")
                    .arg(kWriterStopMs / 1000)
                    .arg(testWriter->spoolFolder()),
                0);
    return rc;
}
