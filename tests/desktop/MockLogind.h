#pragma once
// A private D-Bus daemon standing in for the system bus, with
// python3-dbusmock's logind template on it: what a desktop's logind does with
// inhibitors (ListInhibitors drops one once its descriptor is closed), and a
// log of every call.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace eload::test {

struct Inhibitor {
    QString what, who, why, mode;
    friend bool operator==(const Inhibitor&, const Inhibitor&) = default;
};

class MockBus {
public:
    // A bus of its own at a socket in a scratch folder; with `logind`, the mock on it.
    explicit MockBus(bool logind = true);
    ~MockBus();
    MockBus(const MockBus&) = delete;
    MockBus& operator=(const MockBus&) = delete;

    // Empty when the bus and the mock are up; what went wrong otherwise.
    QString error() const { return error_; }
    QString address() const;

    // logind's inhibitors now, asked over a connection of the test's own.
    QList<Inhibitor> inhibitors() const;
    // The calls of Inhibit the mock logged.
    int inhibitCalls() const;

private:
    bool startBus();
    bool startLogind();

    QTemporaryDir folder_;
    QProcess bus_;
    QProcess logind_;
    QString error_;
};

} // namespace eload::test
