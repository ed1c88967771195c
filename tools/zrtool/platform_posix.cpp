#include "platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glob.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>

namespace zrtool::os {

namespace {
termios g_saved;
volatile bool g_raw = false;
}  // namespace

bool is_terminal(int fd) { return ::isatty(fd) == 1; }
unsigned process_id() { return static_cast<unsigned>(::getpid()); }
void sleep_ms(int ms) { ::usleep(static_cast<useconds_t>(ms) * 1000); }
void local_time(long long seconds, std::tm& out) {
    const time_t s = static_cast<time_t>(seconds);
    ::localtime_r(&s, &out);
}

std::string make_temp_dir(const std::string& prefix) {
    auto tmp = std::filesystem::temp_directory_path().string() + "/" + prefix + "-XXXXXX";
    return ::mkdtemp(tmp.data()) ? tmp : "";
}
void remove_file_now(const char* path) { ::unlink(path); }
void remove_dir_now(const char* path) { ::rmdir(path); }

bool has_line_editor() { return true; }

RawInput::RawInput() {
    if (::tcgetattr(0, &g_saved) != 0) return;
    termios raw = g_saved;
    // Keys one by one without echo; Ctrl-C still ends the tool (ISIG stays on).
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(0, TCSADRAIN, &raw) == 0) g_raw = true;
}
RawInput::~RawInput() { restore_terminal(); }

int RawInput::read_byte() {
    unsigned char c;
    for (;;) {
        const ssize_t n = ::read(0, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

void restore_terminal() {
    if (g_raw) ::tcsetattr(0, TCSADRAIN, &g_saved);
    g_raw = false;
}

std::vector<std::string> serial_candidates() {
    std::vector<std::string> ports;
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
        glob_t g{};
        if (::glob(pattern, 0, nullptr, &g) == 0) {
            std::vector<std::string> found(g.gl_pathv, g.gl_pathv + g.gl_pathc);
            // ttyS10 after ttyS9.
            std::stable_sort(found.begin(), found.end(),
                             [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
            ports.insert(ports.end(), found.begin(), found.end());
        }
        ::globfree(&g);
    }
    return ports;
}

std::vector<bool> tcp_answers(const std::vector<std::uint32_t>& addresses, std::uint16_t port, int limit_ms,
                              int batch) {
    std::vector<bool> answers(addresses.size(), false);
    for (std::size_t first = 0; first < addresses.size(); first += batch) {
        const std::size_t last = std::min(addresses.size(), first + batch);
        std::vector<pollfd> fds;
        std::vector<std::size_t> index;
        for (std::size_t i = first; i < last; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (s < 0) continue;
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(addresses[i]);
            const int r = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
            if (r == 0) answers[i] = true;
            if (r == 0 || errno != EINPROGRESS) {
                ::close(s);
                continue;
            }
            fds.push_back({s, POLLOUT, 0});
            index.push_back(i);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        std::size_t open = fds.size();
        while (open > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            const int n = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (std::size_t k = 0; k < fds.size(); ++k) {
                if (fds[k].fd < 0 || !fds[k].revents) continue;
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(fds[k].fd, SOL_SOCKET, SO_ERROR, &error, &len);
                answers[index[k]] = error == 0;
                ::close(fds[k].fd);
                fds[k].fd = -1;  // poll skips it
                --open;
            }
        }
        for (auto& f : fds)
            if (f.fd >= 0) ::close(f.fd);
    }
    return answers;
}

}  // namespace zrtool::os
