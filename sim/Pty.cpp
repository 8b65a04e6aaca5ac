#include "sim/Pty.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace eload::sim {

namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void setFlags(int fd, int add) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | add); }

std::string linkTarget(const std::string& link)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string() : std::string(target, std::size_t(n));
}

} // namespace

int baudOfSpeed(unsigned speed)
{
    switch (speed) {
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

std::optional<std::string> Pty::open(const std::string& link)
{
    close();
    // Raw from the start: no echo, no line editing, no CR/LF translation of
    // binary frames before the far end has set anything.
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    char name[PATH_MAX];
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return systemError("openpty");
    }
    path_ = name;
    setFlags(master_, O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (link.empty()) return std::nullopt;
    if (auto failure = makeLink(link)) {
        close();
        return failure;
    }
    return std::nullopt;
}

std::optional<std::string> Pty::makeLink(const std::string& link)
{
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return link + " exists and is not a symbolic link";
    // Made beside and renamed over, so the name never points nowhere.
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(path_.c_str(), temporary.c_str()) != 0) return systemError("symlink " + link);
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        const std::string failure = systemError("rename to " + link);
        ::unlink(temporary.c_str());
        return failure;
    }
    link_ = link;
    return std::nullopt;
}

void Pty::removeLink()
{
    // Another instance may have taken the name over since.
    if (!link_.empty() && linkTarget(link_) == path_) ::unlink(link_.c_str());
    link_.clear();
}

void Pty::close()
{
    removeLink();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    master_ = slave_ = -1;
    path_.clear();
}

int Pty::baud() const
{
    // On Linux the master reports the termios of the slave end.
    termios t{};
    if (master_ < 0 || ::tcgetattr(master_, &t) != 0) return 0;
    return baudOfSpeed(unsigned(::cfgetospeed(&t)));
}

long Pty::read(std::uint8_t* buffer, std::size_t size)
{
    const ssize_t n = ::read(master_, buffer, size);
    if (n >= 0) return long(n);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool Pty::write(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(master_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN; // full: the bytes are lost, as in an overrun
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace eload::sim
