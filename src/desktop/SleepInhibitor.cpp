#include "desktop/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace eload::desktop {

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kWhat = QStringLiteral("sleep:idle");
const QString kMode = QStringLiteral("block");
constexpr int kCallTimeoutMs = 25000;

} // namespace

SleepInhibitor::SleepInhibitor(const QString& who, const QString& why, Start start, QObject* parent)
    : SleepInhibitor(who, why, QDBusConnection::systemBus(), start, parent)
{
}

SleepInhibitor::SleepInhibitor(const QString& who, const QString& why, const QDBusConnection& bus,
                               Start start, QObject* parent)
    : QObject(parent), who_(who), why_(why), bus_(bus)
{
    setHeld(start == Hold);
}

// The descriptor closes with lock_; an answer still on its way goes with pending_.
SleepInhibitor::~SleepInhibitor() = default;

void SleepInhibitor::setHeld(bool held)
{
    if (held == wanted_) return;
    wanted_ = held;
    if (!held) return release();
    if (!pending_ && !isActive()) request();
}

void SleepInhibitor::request()
{
    // No system bus (a container): no desktop to keep awake.
    if (!bus_.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogind, kLogindPath, kManager, QStringLiteral("Inhibit"));
    call << kWhat << who_ << why_ << kMode;
    pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(pending_, &QDBusPendingCallWatcher::finished, this, &SleepInhibitor::answered);
}

void SleepInhibitor::answered(QDBusPendingCallWatcher* call)
{
    pending_ = nullptr;
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    // No logind or a refusal: the test runs anyway, as it would without us.
    if (reply.isError() || !reply.value().isValid()) return;
    // Released while the call was on its way: the descriptor closes here.
    if (!wanted_) return;
    lock_ = reply.value();
    Q_EMIT activeChanged(true);
}

void SleepInhibitor::release()
{
    if (!isActive()) return;
    lock_ = QDBusUnixFileDescriptor();
    Q_EMIT activeChanged(false);
}

} // namespace eload::desktop
