#pragma once
// The module's end of the serial line: a pseudo-terminal master. The slave
// end stays open here too, so that the line outlives the panel closing and
// reopening the port, and the settings the panel made stay readable.

#include <cstdint>
#include <optional>
#include <string>

namespace eload::sim {

class Pty {
public:
    Pty() = default;
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a pty and, when `link` is not empty, points that symlink at it
    // (replacing an older symlink, never another kind of file). The reason on
    // failure.
    std::optional<std::string> open(const std::string& link);
    // The master closed, so the device goes away; the link removed if it
    // still points here.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int masterFd() const { return master_; }
    const std::string& path() const { return path_; }

    // The output speed the far end set on its side, 0 when not one of the
    // usual rates. (The pty driver keeps every line at 8 bits, no parity, so
    // the speed is all a wrong setting can show in.)
    int baud() const;

    // Non-blocking; bytes read, 0 when none wait, -1 when the line is gone.
    long read(std::uint8_t* buffer, std::size_t size);
    // Writes what the line takes now; false when the line is gone.
    bool write(const std::uint8_t* data, std::size_t size);

private:
    std::optional<std::string> makeLink(const std::string& link);
    void removeLink();

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::string link_;
};

// The usual rates by their termios constants; 0 for any other.
int baudOfSpeed(unsigned speed);

} // namespace eload::sim
