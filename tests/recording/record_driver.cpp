// A recording that runs until it is killed: the real Recorder over the
// in-memory panel, one poll every 50 ms. Prints each poll's number once its
// row has been handed to the recorder, for test_recorder_kill.
//
// usage: record_driver FOLDER

#include "RowPattern.h"
#include "app/Clock.h"
#include "app/Context.h"
#include "recording/Recorder.h"
#include "support/Fakes.h"
#include "support/MemoryPanel.h"
#include "ui/FormState.h"
#include "ui/Texts.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

using namespace eload;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    test::MemoryPanel panel;
    FormState state;
    test::FakeSerialDevice port;
    SystemClock clock;
    Context ctx{panel, state, port, clock};
    state.AppFolder = QString::fromLocal8Bit(argv[1]);
    Recorder recorder(ctx, RecorderOptions{state.AppFolder, {}, {}});
    panel.setText(Ctl::Command1, texts::kClosePort);
    recorder.Command6_Click();
    if (state.RecordFlag != QStringLiteral("1")) return 1;

    int n = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        test::showValuesFor(panel, ++n);
        recorder.WriteRow();
        std::printf("%d\n", n);
        std::fflush(stdout);
    });
    poll.start(50);
    return app.exec();
}
