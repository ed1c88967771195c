// Programs the tests run as a user would (zrtool, zrgate, the broker): started with
// posix_spawn, so that nothing runs between fork and exec in a process whose simulator
// threads may hold the allocator's lock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zr::test {

// Where a child's standard output or standard error goes.
enum class Sink {
    pipe,     // read by the test: out(), err(), line_with()
    null,     // /dev/null
    inherit,  // the test's own
    log,      // appended to ChildOptions::log
};

struct ChildOptions {
    Sink out = Sink::pipe;
    Sink err = Sink::pipe;
    std::string log;                   // the file of Sink::log
    std::optional<std::string> input;  // written to standard input, then closed; unset: inherited
    bool own_group = false;            // a process group of its own, away from the terminal's signals
};

// A running child; killed with SIGKILL and reaped if still there at the end.
class Child {
public:
    // argv[0] is the program's path.
    explicit Child(const std::vector<std::string>& argv, ChildOptions options = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int s) const;

    // The next line of standard output holding `text`, or "" when the output ends or
    // `give_up` passes (a hang guard, not a measure).
    std::string line_with(const std::string& text, std::chrono::milliseconds give_up = std::chrono::seconds(30));
    // Reads the piped outputs until both end; false when `give_up` passed first.
    bool drain(std::chrono::milliseconds give_up = std::chrono::seconds(30));
    // What has been read of standard output and standard error.
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

    // Waits for the exit, killing the child when `give_up` passes; the exit status, -1 when it
    // did not exit normally.
    int wait(std::chrono::milliseconds give_up = std::chrono::seconds(30));
    // signal(s), then wait().
    int stop(int s, std::chrono::milliseconds give_up = std::chrono::seconds(30));

private:
    bool read_some(int timeout_ms);

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
    std::string out_, err_;
    std::size_t scanned_ = 0;  // out_ up to here has been gone through by line_with
};

struct Ran {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out, err;
};

// Runs argv to its end with `input` on standard input, capturing both outputs; a child that
// hangs past `give_up` is killed.
Ran run(const std::vector<std::string>& argv, const std::string& input = "",
        std::chrono::milliseconds give_up = std::chrono::seconds(30));

}  // namespace zr::test
