// The reader session a verb talks to: from the application's INI file, from an INI file the
// tool writes for --tcp / --serial (and removes again), or to the built-in simulator.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zr::sim {
class Simulator;
}

namespace zrtool {

// Removes the temporary settings file of the session that is open, if any. Safe to call from
// a signal handler.
void remove_temporary_files();

struct Connection {
    std::string config, section;  // --config FILE --section NAME
    std::string tcp;              // --tcp ADDRESS[:PORT]
    std::string serial;           // --serial PORT
    bool serial_flag = false;     // --serial without a port (with --simulate: its pty)
    bool simulate = false;
    bool trace = false;           // --trace: the simulator prints every frame (stderr)
    std::string device_class;     // --device-class N ("": the INI key, else the library's 3)
    std::string timing;           // --timing fixed|whole ("": the section's ZR_REPLY_TIMING, else fixed)

    // The usage problem with this combination of options, or "" when it is sound.
    std::string problem() const;
};

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Prepares the INI file (and the simulator) and calls ZROpen. Returns ZROpen's result, or
    // 0 with `error` set when the tool could not prepare the session itself.
    int open(const Connection& c, std::string& error);
    int handle() const { return handle_; }
    // ZRClose's result (1 when nothing was open).
    int close();
    // Where the session goes, for messages: "simulator on 127.3.4.5:7086" and the like.
    const std::string& target() const { return target_; }
    // The settings file's section the session was opened with (the tool's own for --tcp,
    // --serial and --simulate).
    const std::string& section() const { return section_; }
    // The built-in simulator (--simulate), else nullptr.
    zr::sim::Simulator* simulator() const { return sim_.get(); }
    // What the user should hear about although the open went on: ZR_ keys of the section the
    // library does not know, a trace file the library could not open. One line each.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    bool write_ini(const std::string& type, const std::string& port, const std::string& host, std::string& error,
                   const std::string& tcp_port = "");
    bool start_simulator(bool serial, bool trace, std::string& port_or_host, std::string& error);

    int handle_ = -1;
    std::shared_ptr<zr::sim::Simulator> sim_;  // shared_ptr: the type is incomplete where the simulator is not built
    std::string dir_, ini_, section_, target_;
    std::vector<std::string> warnings_;
    bool trace_ = false;
};

}  // namespace zrtool
