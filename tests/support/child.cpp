#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace zr::test {

namespace {

using Clock = std::chrono::steady_clock;

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Points the child's `target` descriptor at `sink`; `ends` is the pipe made for Sink::pipe.
void direct(posix_spawn_file_actions_t& actions, int target, Sink sink, const std::string& log, const int ends[2]) {
    switch (sink) {
        case Sink::pipe: posix_spawn_file_actions_adddup2(&actions, ends[1], target); break;
        case Sink::null: posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0); break;
        case Sink::log:
            posix_spawn_file_actions_addopen(&actions, target, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            break;
        case Sink::inherit: break;
    }
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, ChildOptions options) {
    if (argv.empty()) return;
    // O_CLOEXEC: children started by other tests at the same time must not hold these ends open.
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if ((options.input && ::pipe2(in, O_CLOEXEC) != 0) || (options.out == Sink::pipe && ::pipe2(out, O_CLOEXEC) != 0) ||
        (options.err == Sink::pipe && ::pipe2(err, O_CLOEXEC) != 0)) {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) close_fd(*fd);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.input) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    direct(actions, 1, options.out, options.log, out);
    // Both to the same log: one file description, so that the lines interleave as written.
    if (options.out == Sink::log && options.err == Sink::log) posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else direct(actions, 2, options.err, options.log, err);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.own_group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    for (int* fd : {&in[0], &out[1], &err[1]}) close_fd(*fd);
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (in[1] >= 0) {
        if (pid_ > 0 && !options.input->empty()) (void)!::write(in[1], options.input->data(), options.input->size());
        close_fd(in[1]);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    close_fd(out_fd_);
    close_fd(err_fd_);
}

void Child::signal(int s) const {
    if (pid_ > 0) ::kill(pid_, s);
}

// Waits at most `timeout_ms` for output and takes what there is; false when no pipe is open.
bool Child::read_some(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    if (::poll(fds, 2, timeout_ms) <= 0) return true;
    int* owners[2] = {&out_fd_, &err_fd_};
    std::string* sinks[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) sinks[i]->append(buf, static_cast<std::size_t>(n));
        else close_fd(*owners[i]);
    }
    return true;
}

std::string Child::line_with(const std::string& text, std::chrono::milliseconds give_up) {
    const auto end = Clock::now() + give_up;
    for (;;) {
        for (auto nl = out_.find('\n', scanned_); nl != std::string::npos; nl = out_.find('\n', scanned_)) {
            std::string line = out_.substr(scanned_, nl - scanned_);
            scanned_ = nl + 1;
            if (line.find(text) != std::string::npos) return line;
        }
        if (out_fd_ < 0 || Clock::now() > end) return "";
        read_some(100);
    }
}

bool Child::drain(std::chrono::milliseconds give_up) {
    const auto end = Clock::now() + give_up;
    while (out_fd_ >= 0 || err_fd_ >= 0) {
        if (Clock::now() > end) return false;
        read_some(100);
    }
    return true;
}

int Child::wait(std::chrono::milliseconds give_up) {
    if (pid_ <= 0) return -1;
    const auto end = Clock::now() + give_up;
    int status = 0;
    pid_t reaped;
    // Reading on while waiting: a child blocked on a full pipe would never exit.
    while ((reaped = ::waitpid(pid_, &status, WNOHANG)) == 0) {
        if (Clock::now() > end) {
            ::kill(pid_, SIGKILL);
            reaped = ::waitpid(pid_, &status, 0);
            break;
        }
        if (!read_some(10)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Child::stop(int s, std::chrono::milliseconds give_up) {
    signal(s);
    return wait(give_up);
}

Ran run(const std::vector<std::string>& argv, const std::string& input, std::chrono::milliseconds give_up) {
    ChildOptions options;
    options.input = input;
    Child child(argv, options);
    Ran r;
    if (!child.started()) return r;
    const auto end = Clock::now() + give_up;
    if (!child.drain(give_up)) child.signal(SIGKILL);
    r.status = child.wait(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
    r.out = child.out();
    r.err = child.err();
    return r;
}

}  // namespace zr::test
