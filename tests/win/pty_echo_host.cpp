// pty_echo [COUNT]: the far end of the COM ports that the Windows tests open under wine. Makes
// COUNT pseudo-terminals in raw mode, prints each one's slave path on a line of its own once
// all are ready, and sends back every byte that arrives on each, until it is killed.
//
// The slave side is held open here as well, so that the program under test opening and closing
// its COM port never hangs the line up.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Line {
    int master = -1;
    int slave = -1;
    std::string path;
    std::vector<unsigned char> pending;  // received, not yet sent back
};

bool OpenLine(Line& line) {
    line.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.master < 0) return false;
    std::array<char, 128> name{};
    if (::grantpt(line.master) != 0 || ::unlockpt(line.master) != 0 ||
        ::ptsname_r(line.master, name.data(), name.size()) != 0) {
        return false;
    }
    line.path = name.data();
    line.slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.slave < 0) return false;
    termios raw{};
    if (::tcgetattr(line.slave, &raw) != 0) return false;
    ::cfmakeraw(&raw);
    if (::tcsetattr(line.slave, TCSANOW, &raw) != 0) return false;
    return ::fcntl(line.master, F_SETFL, ::fcntl(line.master, F_GETFL) | O_NONBLOCK) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1;
    if (count < 1 || count > 64) {
        std::fprintf(stderr, "usage: pty_echo [COUNT 1..64]\n");
        return 2;
    }
    std::vector<Line> lines(static_cast<std::size_t>(count));
    for (Line& line : lines) {
        if (!OpenLine(line)) {
            std::perror("pty_echo: cannot make a pseudo-terminal");
            return 1;
        }
    }
    for (const Line& line : lines) std::printf("%s\n", line.path.c_str());
    std::fflush(stdout);

    std::vector<pollfd> polls(lines.size());
    std::array<unsigned char, 4096> chunk{};
    for (;;) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            polls[i] =
                pollfd{lines[i].master,
                       static_cast<short>(POLLIN | (lines[i].pending.empty() ? 0 : POLLOUT)), 0};
        }
        if (::poll(polls.data(), polls.size(), -1) < 0 && errno != EINTR) return 1;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Line& line = lines[i];
            if (polls[i].revents & POLLIN) {
                const ssize_t n = ::read(line.master, chunk.data(), chunk.size());
                if (n > 0)
                    line.pending.insert(line.pending.end(), chunk.begin(), chunk.begin() + n);
            }
            if (!line.pending.empty()) {
                const ssize_t n = ::write(line.master, line.pending.data(), line.pending.size());
                if (n > 0) line.pending.erase(line.pending.begin(), line.pending.begin() + n);
            }
        }
    }
}
