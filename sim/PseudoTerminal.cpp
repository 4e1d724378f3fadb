#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

PseudoTerminal::~PseudoTerminal() {
    Close();
}

bool PseudoTerminal::Open(std::string& error) {
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail("posix_openpt");
    if (grantpt(master_) != 0)
        return fail("grantpt");
    if (unlockpt(master_) != 0)
        return fail("unlockpt");
    const char* name = ptsname(master_);
    if (!name)
        return fail("ptsname");
    path_ = name;
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return fail("open slave");
    termios raw{};
    if (tcgetattr(slave_, &raw) != 0)
        return fail("tcgetattr");
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (tcsetattr(slave_, TCSANOW, &raw) != 0)
        return fail("tcsetattr");
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    return true;
}

void PseudoTerminal::Close() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

} // namespace sim
