#pragma once
// Keeps the computer from suspending, and the session from going idle, while
// held: systemd-logind's Inhibit("sleep:idle", who, why, "block") on the
// system bus. logind keeps the inhibitor while the descriptor it returns is
// open; releasing closes it. Where there is no system bus or no logind (a
// container, another init system) nothing is held and nothing is said.
//
// The call is asynchronous: a slow logind never holds up the event thread.
// The one-line use for a whole run of the event loop:
//   desktop::SleepInhibitor awake(who, why, desktop::SleepInhibitor::Hold);

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace eload::desktop {

class SleepInhibitor final : public QObject {
    Q_OBJECT
public:
    enum Start { Released, Hold };

    // On the system bus.
    SleepInhibitor(const QString& who, const QString& why, Start start = Released,
                   QObject* parent = nullptr);
    SleepInhibitor(const QString& who, const QString& why, const QDBusConnection& bus,
                   Start start = Released, QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Asks logind for the inhibitor, or gives it back. Asking again while
    // held, or releasing while not, does nothing.
    void setHeld(bool held);
    // As last asked.
    bool isHeld() const { return wanted_; }
    // logind granted it and it is held now.
    bool isActive() const { return lock_.isValid(); }

Q_SIGNALS:
    // isActive() changed.
    void activeChanged(bool active);

private:
    void request();
    void answered(QDBusPendingCallWatcher* call);
    void release();

    QString who_;
    QString why_;
    QDBusConnection bus_;
    bool wanted_ = false;
    QDBusPendingCallWatcher* pending_ = nullptr;
    QDBusUnixFileDescriptor lock_;
};

} // namespace eload::desktop
