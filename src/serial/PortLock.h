#pragma once
// A serial device owned by one program at a time, root included: the lock
// file QSerialPort takes (LCK..name in the first usable lock folder, named
// as Qt names it for the same path) plus flock() on the open device, which
// root cannot slip past as it slips past TIOCEXCL. The panel (through
// QSerialPort) and eload-cli (through libmodbus) take both, so each sees the
// other, and any second copy of either, as busy.

#include <QString>
#include <memory>
#include <optional>
#include <variant>

class QLockFile;

namespace eload {

// Who holds a device, as far as the system tells: a pid and a program name
// (either may be unknown).
struct PortHolder {
    qint64 pid = 0;
    QString program;
    QString text() const; // "eload-panel (pid 1234)", "pid 1234", "eload-cli"
};

struct PortBusy {
    std::optional<PortHolder> holder; // nothing when it cannot be found
};

// The lock file QSerialPort uses for the device at `path` (a path under /dev/
// by its name there, any other path with '/' turned into '_'); empty when no
// lock folder may be used.
QString serialLockFilePath(const QString& path);

// The lock file of one device, held until destroyed.
class PortLockFile {
public:
    // Taken, or busy with the holder its file names.
    static std::variant<std::unique_ptr<PortLockFile>, PortBusy> take(const QString& path);
    ~PortLockFile();

private:
    explicit PortLockFile(std::unique_ptr<QLockFile> file);
    std::unique_ptr<QLockFile> file_;
};

// flock(LOCK_EX | LOCK_NB) on the open device `fd` at `path`; busy, with its
// holder where it can be found, when another holds it. The lock goes with
// the descriptor.
std::optional<PortBusy> lockDevice(int fd, const QString& path);

// The holder of the device at `path`, as far as it can be found: the flock
// on it (/proc/locks), its lock file, or else a process that has it open
// (among those whose descriptors this process may look at).
std::optional<PortHolder> findHolder(const QString& path);

// Clears the exclusive flag (TIOCNXCL) a program set on the open device, so
// that the next program may open it; to be called before closing `fd`.
void releaseExclusive(int fd);

} // namespace eload
