#include "e2e/LivePanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace eload::test {

BoxWatcher::BoxWatcher() { qApp->installEventFilter(this); }

BoxWatcher::~BoxWatcher() { qApp->removeEventFilter(this); }

bool BoxWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            texts << box->text().section(u'\n', 0, 0);
            // Pressed once its own event loop runs, as a person would.
            QTimer::singleShot(0, box, &QMessageBox::accept);
        }
    }
    return false;
}

namespace {
PortMap com1(const QString& path)
{
    PortMap map;
    map.set(1, path);
    return map;
}

QString prepareFolder(const QTemporaryDir& folder, const QString& baud)
{
    const QString previous = QDir::currentPath();
    QFile settings(folder.filePath(QStringLiteral("com.txt")));
    if (settings.open(QIODevice::WriteOnly))
        settings.write(QStringLiteral("1\r\n%1\r\n").arg(baud).toLatin1());
    QDir::setCurrent(folder.path());
    return previous;
}
} // namespace

LivePanel::LivePanel(const QString& path, const QString& baud)
    : device(com1(path)),
      form(window, device, clock, FormOptions{QStringLiteral("com.txt"), folder.path()}),
      previousFolder_(prepareFolder(folder, baud))
{
    window.setEvents(&form);
    form.Form_Load();
    window.show();
}

LivePanel::~LivePanel()
{
    window.setEvents(nullptr);
    QDir::setCurrent(previousFolder_);
}

void LivePanel::click(Ctl c)
{
    auto* button = qobject_cast<QAbstractButton*>(window.control(c));
    Q_ASSERT(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

void LivePanel::openAndAcquire()
{
    click(Ctl::Command1);
    click(Ctl::Command_OK3);
}

} // namespace eload::test
