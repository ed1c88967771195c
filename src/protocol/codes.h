// The reader's command codes: one table with each code's name and how the reader answers it.
#pragma once

#include <cstdint>
#include <string>

namespace zr::protocol {

namespace code {
inline constexpr std::uint8_t long_identify = 0x49;
inline constexpr std::uint8_t user_identify = 0x4A;
inline constexpr std::uint8_t set_interfere_12 = 0x4B;  // device classes 1 and 2
inline constexpr std::uint8_t get_interfere_12 = 0x4C;
inline constexpr std::uint8_t close_interfere_12 = 0x4D;
inline constexpr std::uint8_t code_sending = 0x5F;
inline constexpr std::uint8_t power_on = 0x60;
inline constexpr std::uint8_t power_off = 0x61;
inline constexpr std::uint8_t sys_query = 0x62;
inline constexpr std::uint8_t sys_set = 0x63;
inline constexpr std::uint8_t tag_query = 0x64;
inline constexpr std::uint8_t tag_set = 0x65;
inline constexpr std::uint8_t reset = 0x67;  // also the test mode
inline constexpr std::uint8_t data_return = 0x68;
inline constexpr std::uint8_t set_interfere = 0x6A;
inline constexpr std::uint8_t get_interfere = 0x6B;
inline constexpr std::uint8_t close_interfere = 0x6C;
inline constexpr std::uint8_t epc_print_power = 0x6D;
inline constexpr std::uint8_t select_tag = 0x70;
inline constexpr std::uint8_t identify = 0x71;
inline constexpr std::uint8_t read_user_data = 0x72;
inline constexpr std::uint8_t write_user_data = 0x73;
inline constexpr std::uint8_t lock_user_data = 0x74;
inline constexpr std::uint8_t select_tag_epc = 0x80;
inline constexpr std::uint8_t identify_epc = 0x81;
inline constexpr std::uint8_t identify_tid = 0x82;
inline constexpr std::uint8_t set_epc = 0x83;
inline constexpr std::uint8_t read_words = 0x84;  // also the user-data inventory and its reports
inline constexpr std::uint8_t set_use_data = 0x85;
inline constexpr std::uint8_t set_visit_pwd = 0x88;
inline constexpr std::uint8_t set_destroy_pwd = 0x89;
inline constexpr std::uint8_t set_data_locked = 0x8A;
inline constexpr std::uint8_t destroy_tag = 0x8B;
inline constexpr std::uint8_t config_eas_flag = 0x8C;
inline constexpr std::uint8_t eas_alarm = 0x8D;
inline constexpr std::uint8_t get_reader_state = 0xA0;
inline constexpr std::uint8_t listen = 0xA1;
inline constexpr std::uint8_t set_reader_time = 0xA2;
inline constexpr std::uint8_t set_fix_no = 0xA3;
inline constexpr std::uint8_t get_fix_no = 0xA4;
inline constexpr std::uint8_t direct_read = 0xD0;
inline constexpr std::uint8_t io_control_set = 0xD1;
inline constexpr std::uint8_t io_control_query = 0xD2;
}  // namespace code

// How the reader answers a request of a code.
enum class Answer : std::uint8_t {
    status,        // at once, with a status (and data) under the same code
    reports,       // later, with report frames under the same code, collected by their own calls
    reader_first,  // the reader sends first; the host answers under the same code
};

struct CommandInfo {
    std::uint8_t code;
    const char* name;
    Answer answer;
    // Frames of this code may come without a request at that moment (reports, alarms, the
    // reader's own frames): such a frame is never the answer to a command of another code.
    bool unasked;
};

// The row of `code`, or null for a code the protocol does not have.
const CommandInfo* find_command(std::uint8_t code);

// "RESET/TEST_MODE" for 0x67 and so on; "CMD 0xNN" for a code the protocol does not have.
std::string command_name(std::uint8_t code);

// The codes under which the reader sends frames nobody asked for at that moment.
constexpr bool is_report_code(std::uint8_t c) {
    switch (c) {
        case code::long_identify: case code::user_identify: case code::identify: case code::identify_epc:
        case code::identify_tid: case code::read_words: case code::eas_alarm: case code::listen:
        case code::direct_read:
            return true;
        default:
            return false;
    }
}

}  // namespace zr::protocol
