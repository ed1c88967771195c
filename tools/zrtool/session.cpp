#include "session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <random>
#include <thread>

#include "core/known_keys.h"
#include "platform.h"
#include "zr.h"
#ifdef ZRTOOL_SIMULATOR
#include "server.h"
#endif

namespace zrtool {

namespace {

// Copies of the temporary paths for the signal handler, which may not touch std::string.
char g_ini_path[512];
char g_dir_path[512];

void remember_paths(const std::string& ini, const std::string& dir) {
    if (ini.size() >= sizeof g_ini_path || dir.size() >= sizeof g_dir_path) return;
    std::memcpy(g_dir_path, dir.c_str(), dir.size() + 1);
    std::memcpy(g_ini_path, ini.c_str(), ini.size() + 1);
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(std::string s) {
    s.erase(0, s.find_first_not_of(" \t\r"));
    s.erase(s.find_last_not_of(" \t\r") + 1);
    return s;
}

// Each KEY = VALUE of `section` in an INI file, in file order, names as written (the library
// reads names without regard to case).
std::vector<std::pair<std::string, std::string>> ini_entries(const std::string& path, const std::string& section) {
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream in(path, std::ios::binary);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (!line.empty() && line.front() == '[') {
            auto end = line.find(']');
            inside = end != std::string::npos && same_name(trimmed(line.substr(1, end - 1)), section);
        } else if (auto eq = line.find('='); inside && eq != std::string::npos) {
            out.emplace_back(trimmed(line.substr(0, eq)), line.substr(eq + 1));
        }
    }
    return out;
}

// The value of `key` in `section` of an INI file, read as the library reads its own keys
// (the value up to a ';', blanks removed); "" when absent.
std::string ini_value(const std::string& path, const std::string& section, const std::string& key) {
    for (auto [name, value] : ini_entries(path, section)) {
        if (!same_name(name, key)) continue;
        value.resize(std::min(value.size(), value.find(';')));
        std::erase_if(value, [](char c) { return c == ' ' || c == '\t'; });
        return value;
    }
    return "";
}

// The library takes a misspelt key for a missing one and reads "0" for it without a word:
// the tool names each ZR_ key of the section it does not know, with the key it is closest to.
std::vector<std::string> unknown_keys(const std::string& path, const std::string& section) {
    std::vector<std::string> out;
    auto listed = [](const std::string& key, const auto& list) {
        return std::any_of(std::begin(list), std::end(list), [&](const char* k) { return same_name(key, k); });
    };
    for (const auto& [key, value] : ini_entries(path, section)) {
        if (key.size() < 3 || !same_name(key.substr(0, 3), "ZR_")) continue;
        if (listed(key, zr::core::kKnownKeys) || listed(key, zr::core::kWrittenKeys)) continue;
        const auto near = zr::core::nearest_known(key);
        out.push_back(key + " in [" + section + "] of " + path + " is no key the library knows" +
                      (near.empty() ? ": it is ignored" : " (did you mean " + near + "?)"));
    }
    return out;
}

}  // namespace

void remove_temporary_files() {
    // unlink and rmdir are safe in a signal handler.
    if (g_ini_path[0]) os::remove_file_now(g_ini_path);
    if (g_dir_path[0]) os::remove_dir_now(g_dir_path);
}

namespace {

// "ADDRESS[:PORT]" -> ADDRESS and PORT ("" without one); false when PORT is no port number.
bool split_tcp(const std::string& text, std::string& host, std::string& port) {
    const auto colon = text.rfind(':');
    host = text.substr(0, colon);
    port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (colon == std::string::npos) return true;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long n = std::stoul(port);
    return n >= 1 && n <= 65535;
}

}  // namespace

std::string Connection::problem() const {
    const int ways = (!config.empty() || !section.empty()) + !tcp.empty() + (!serial.empty() && !simulate) + simulate;
    if (serial_flag && serial.empty() && !simulate) return "--serial needs a port name (or use --simulate --serial)";
    if (ways == 0) return "no reader given: use --simulate, --tcp ADDRESS, --serial PORT or --config FILE --section NAME";
    if (simulate && !serial.empty()) return "--simulate brings its own serial port: use --simulate --serial without a port";
    if (ways > 1) return "give only one of --simulate, --tcp, --serial and --config";
    if (!config.empty() && section.empty()) return "--config needs --section NAME";
    if (config.empty() && !section.empty()) return "--section needs --config FILE";
    if (!device_class.empty() && device_class != "1" && device_class != "2" && device_class != "3")
        return "--device-class wants 1, 2 or 3, not '" + device_class + "'";
    if (!timing.empty() && timing != "fixed" && timing != "whole")
        return "--timing wants fixed or whole, not '" + timing + "'";
    if (std::string host, port; !tcp.empty() && !split_tcp(tcp, host, port))
        return "--tcp wants ADDRESS or ADDRESS:PORT with PORT 1 to 65535, not '" + tcp + "'";
    return "";
}

// The library's wire trace, as zrtool --trace prints it.
void ZR_CALL print_trace_line(void* /*context*/, const char* line) {
    std::fprintf(stderr, "zr: %s\n", line);
    std::fflush(stderr);
}

Session::Session() = default;

Session::~Session() {
    close();
#ifdef ZRTOOL_SIMULATOR
    if (sim_) {
        // A command that only sends returns before the simulator has read it: let it, so
        // that --trace shows everything the command sent.
        if (trace_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sim_->stop();
    }
#endif
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        g_ini_path[0] = g_dir_path[0] = '\0';
    }
}

bool Session::write_ini(const std::string& type, const std::string& port, const std::string& host, std::string& error,
                        const std::string& tcp_port) {
    dir_ = os::make_temp_dir("zrtool");
    if (dir_.empty()) {
        error = "cannot create a temporary directory for the settings file";
        return false;
    }
    ini_ = dir_ + "/zrtool.ini";
    section_ = "zrtool";
    // The library wants all three keys; the one the transport does not use gets a placeholder.
    std::ofstream f(ini_, std::ios::binary);
    f << "[" << section_ << "]\nZR_PORT_TYPE=" << type << "\nZR_COM_NUMBER=" << port << "\nZR_HOST_NAME=" << host
      << "\n";
    if (!tcp_port.empty()) f << "ZR_TCP_PORT=" << tcp_port << "\n";
    remember_paths(ini_, dir_);
    if (!f.flush()) {
        error = "cannot write the settings file " + ini_;
        return false;
    }
    return true;
}

#ifndef ZRTOOL_SIMULATOR
// Without the simulator (the Windows build): --simulate says so.
bool Session::start_simulator(bool, bool, std::string&, std::string& error) {
    error = "--simulate: this zrtool was built without the simulator; start zrsim and use --tcp or --serial";
    return false;
}
#else
bool Session::start_simulator(bool serial, bool trace, std::string& port_or_host, std::string& error) {
    sim_ = std::make_shared<zr::sim::Simulator>();
    trace_ = trace;
    if (trace)
        sim_->set_trace([](const std::string& line) {
            std::fprintf(stderr, "sim: %s\n", line.c_str());
            std::fflush(stderr);
        });
    if (serial) {
        if (!sim_->open_pty(port_or_host, error)) return false;
        target_ = "simulator on " + port_or_host;
    } else {
        // Any 127.x.y.z listens on the reader port, so each run takes an address of its own
        // and runs side by side with other tools and tests.
        std::random_device rd;
        std::mt19937 rng(rd() ^ os::process_id());
        std::uniform_int_distribution<int> part(1, 254);
        for (int attempt = 0; attempt < 20 && port_or_host.empty(); ++attempt) {
            auto a = "127." + std::to_string(part(rng)) + "." + std::to_string(part(rng)) + "." + std::to_string(part(rng));
            if (sim_->listen_tcp(a, zr::sim::kReaderPort, error)) port_or_host = a;
        }
        if (port_or_host.empty()) return false;
        target_ = "simulator on " + port_or_host + ":" + std::to_string(zr::sim::kReaderPort);
    }
    sim_->start();
    return true;
}
#endif

int Session::open(const Connection& c, std::string& error) {
    std::string path = c.config;
    // The device class lives in the library, not in its settings: the tool reads it from its
    // own key so that one INI file serves the application and the tool alike.
    std::string device_class = c.device_class;
    if (device_class.empty() && !c.config.empty()) {
        device_class = ini_value(c.config, c.section, "ZRTOOL_DEVICE_CLASS");
        if (!device_class.empty() && device_class != "1" && device_class != "2" && device_class != "3") {
            error = "ZRTOOL_DEVICE_CLASS in [" + c.section + "] of " + c.config + " wants 1, 2 or 3, not '" +
                    device_class + "'";
            return 0;
        }
    }
    if (!device_class.empty()) ZRSetDeviceClass(0, device_class[0] - '0');
    if (c.trace) ZRSetTraceCallback(print_trace_line, nullptr);
    if (c.simulate) {
        std::string where;
        if (!start_simulator(c.serial_flag, c.trace, where, error)) return 0;
#ifdef ZRTOOL_SIMULATOR
        if (!device_class.empty())
            sim_->with_model([&](zr::sim::ReaderModel& m) { m.device_class = device_class[0] - '0'; });
#endif
        if (!(c.serial_flag ? write_ini("COM", where, "127.0.0.1", error) : write_ini("TCP", "COM1", where, error)))
            return 0;
    } else if (!c.tcp.empty()) {
        std::string host, port;
        split_tcp(c.tcp, host, port);
        if (!write_ini("TCP", "COM1", host, error, port)) return 0;
        target_ = host + ":" + (port.empty() ? "7086" : port);
    } else if (!c.serial.empty()) {
        if (!write_ini("COM", c.serial, "127.0.0.1", error)) return 0;
        target_ = c.serial;
    } else {
        target_ = "[" + c.section + "] of " + c.config;
    }
    if (!ini_.empty()) path = ini_;
    else section_ = c.section;
    if (!c.config.empty()) warnings_ = unknown_keys(c.config, c.section);
    const std::string cause_before = ZRLastCause();
    const int opened = ZROpen(&handle_, path.c_str(), section_.c_str());
    // A successful open speaks only of what went wrong beside it (a trace file).
    if (opened == ZR_OK && ZRLastCause() != cause_before) warnings_.push_back(ZRLastCause());
    if (opened == ZR_OK && !c.timing.empty()) {
        const int set = ZRSetReplyTiming(handle_, c.timing == "whole" ? ZR_REPLY_TIMING_WHOLE : ZR_REPLY_TIMING_FIXED);
        if (set != ZR_OK) {
            error = "cannot set the reply timing: " + std::string(ZRResultText(set)) + " (" + ZRLastCause() + ")";
            return 0;
        }
    }
    return opened;
}

int Session::close() {
    if (handle_ == -1) return ZR_OK;
    return ZRClose(&handle_);
}

}  // namespace zrtool
