#pragma once
// The whole panel as an operator meets it: the real window (offscreen), the
// real serial device on a pseudo-terminal, the real clock, and a watcher that
// reads and dismisses the modal boxes the way a person would.

#include "app/Form.h"
#include "core/Clock.h"
#include "serial/PortMap.h"
#include "serial/QtSerialDevice.h"
#include "ui/frmmain.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace eload::test {

// Records every modal box as it is shown and presses its OK button.
class BoxWatcher : public QObject {
    Q_OBJECT
public:
    BoxWatcher();
    ~BoxWatcher() override;
    QStringList texts; // first line of every box, oldest first

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class LivePanel {
public:
    // COM1 is `path`; com.txt in a scratch working folder selects it.
    explicit LivePanel(const QString& path, const QString& baud = QStringLiteral("9600"));
    ~LivePanel();

    void click(Ctl c);
    QString text(Ctl c) const { return window.text(c); }
    // Open the port and start acquisition, as an operator does.
    void openAndAcquire();

    QTemporaryDir folder;
    BoxWatcher boxes;
    SystemClock clock;
    QtSerialDevice device;
    frmmain window;
    Form form;

private:
    QString previousFolder_;
};

} // namespace eload::test
