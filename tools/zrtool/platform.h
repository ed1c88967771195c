// What zrtool needs of the operating system beyond the library: the terminal of the shell,
// temporary files, the serial ports and TCP hosts a scan tries. One implementation per OS
// (platform_posix.cpp, platform_win32.cpp); nothing else in the tool includes an OS header.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zrtool::os {

bool is_terminal(int fd);  // 0, 1, 2
unsigned process_id();
void sleep_ms(int ms);
// The local time of `seconds` since 1970 (localtime_r / localtime_s).
void local_time(long long seconds, std::tm& out);

// A fresh private directory under the temporary directory; "" when none could be made.
std::string make_temp_dir(const std::string& prefix);
// unlink / rmdir: safe in a signal handler.
void remove_file_now(const char* path);
void remove_dir_now(const char* path);

// Keys of the shell's line editor, one at a time from standard input, echo and line
// buffering off while a RawInput lives. Only where editing is supported (has_line_editor).
bool has_line_editor();
class RawInput {
public:
    RawInput();
    ~RawInput();
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;
    // One byte, or -1 at the end of input.
    int read_byte();
};
// Puts the terminal back as it was (from a signal handler too).
void restore_terminal();

// The serial ports worth trying on this machine: those present of /dev/ttyUSB*, ttyACM*,
// ttyS*; COM1 to COM256 that exist on Windows.
std::vector<std::string> serial_candidates();

// Which of `addresses` (IPv4, host order) accept a TCP connection on `port` within
// `limit_ms`: non-blocking connects, `batch` at a time. Closes every socket again.
std::vector<bool> tcp_answers(const std::vector<std::uint32_t>& addresses, std::uint16_t port, int limit_ms, int batch);

}  // namespace zrtool::os
