#include "LineEnd.h"

#include "sim/Slave.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace eload::test {

namespace {

speed_t speedOf(int baud)
{
    switch (baud) {
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    default: return B115200;
    }
}

} // namespace

Bytes frame(Bytes bytes) { return sim::withCrc(std::move(bytes)); }

bool LineEnd::open(const std::string& path, int baud)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    hungUp = false;
    return fd_ >= 0 && setBaud(baud);
}

void LineEnd::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LineEnd::setBaud(int baud)
{
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, speedOf(baud));
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

void LineEnd::send(const Bytes& bytes)
{
    [[maybe_unused]] const auto n = ::write(fd_, bytes.data(), bytes.size());
}

Bytes LineEnd::receive(std::chrono::milliseconds firstByte, std::chrono::milliseconds quiet)
{
    Bytes got;
    auto wait = firstByte;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(wait.count())) <= 0) return got;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) continue;
        if (n <= 0) {
            hungUp = true;
            return got;
        }
        lastAt = std::chrono::steady_clock::now();
        if (got.empty()) firstAt = lastAt;
        got.insert(got.end(), buffer, buffer + n);
        wait = quiet;
    }
}

Bytes LineEnd::exchange(const Bytes& request)
{
    send(request);
    return receive();
}

} // namespace eload::test
