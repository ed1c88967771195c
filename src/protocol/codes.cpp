#include "protocol/codes.h"

#include <array>
#include <cstdio>

namespace zr::protocol {
namespace {

using A = Answer;

constexpr std::array<CommandInfo, 43> kCommands{{
    {code::long_identify, "LONG_IDENTIFY", A::reports, true},
    {code::user_identify, "USER_IDENTIFY", A::reports, true},
    {code::set_interfere_12, "SET_INTERFERE(1,2)", A::status, false},
    {code::get_interfere_12, "GET_INTERFERE(1,2)", A::status, false},
    {code::close_interfere_12, "CLOSE_INTERFERE(1,2)", A::status, false},
    {code::code_sending, "CODE_SENDING", A::status, false},
    {code::power_on, "POWER_ON", A::status, false},
    {code::power_off, "POWER_OFF", A::status, false},
    {code::sys_query, "SYS_QUERY", A::status, false},
    {code::sys_set, "SYS_SET", A::status, false},
    {code::tag_query, "TAG_QUERY", A::status, false},
    {code::tag_set, "TAG_SET", A::status, false},
    {code::reset, "RESET/TEST_MODE", A::status, false},
    {code::data_return, "DATA_RETURN", A::status, false},
    {code::set_interfere, "SET_INTERFERE", A::status, false},
    {code::get_interfere, "GET_INTERFERE", A::status, false},
    {code::close_interfere, "CLOSE_INTERFERE", A::status, false},
    {code::epc_print_power, "EPC_PRINT_POWER", A::status, false},
    {code::select_tag, "SELECT_TAG", A::status, false},
    {code::identify, "IDENTIFY", A::reports, true},
    {code::read_user_data, "READ_USER_DATA", A::status, false},
    {code::write_user_data, "WRITE_USER_DATA", A::status, false},
    {code::lock_user_data, "LOCK_USER_DATA", A::status, false},
    {code::select_tag_epc, "SELECT_TAG_EPC", A::status, false},
    {code::identify_epc, "IDENTIFY_EPC", A::reports, true},
    {code::identify_tid, "IDENTIFY_TID", A::reports, true},
    {code::set_epc, "SET_EPC", A::status, false},
    // Answered with a status when read under a password, with reports as an inventory.
    {code::read_words, "READ_WORDS", A::status, true},
    {code::set_use_data, "SET_USE_DATA", A::status, false},
    {code::set_visit_pwd, "SET_VISIT_PWD", A::status, false},
    {code::set_destroy_pwd, "SET_DESTROY_PWD", A::status, false},
    {code::set_data_locked, "SET_DATA_LOCKED", A::status, false},
    {code::destroy_tag, "DESTROY_TAG", A::status, false},
    {code::config_eas_flag, "CONFIG_EAS_FLAG", A::status, false},
    // Switched on without an answer, off with one; alarms come in between.
    {code::eas_alarm, "EAS_ALARM", A::reports, true},
    {code::get_reader_state, "GET_READER_STATE", A::status, false},
    {code::listen, "LISTEN", A::reader_first, true},
    {code::set_reader_time, "SET_READER_TIME", A::status, false},
    {code::set_fix_no, "SET_FIX_NO", A::status, false},
    {code::get_fix_no, "GET_FIX_NO", A::status, false},
    {code::direct_read, "DIRECT_READ", A::reports, true},
    {code::io_control_set, "IO_CONTROL_SET", A::status, false},
    {code::io_control_query, "IO_CONTROL_QUERY", A::status, false},
}};

constexpr bool table_agrees_with_report_codes() {
    for (unsigned c = 0; c < 256; ++c) {
        bool unasked = false;
        for (const auto& row : kCommands)
            if (row.code == c) unasked = row.unasked;
        if (unasked != is_report_code(static_cast<std::uint8_t>(c))) return false;
    }
    return true;
}
static_assert(table_agrees_with_report_codes());

}  // namespace

const CommandInfo* find_command(std::uint8_t c) {
    for (const auto& row : kCommands)
        if (row.code == c) return &row;
    return nullptr;
}

std::string command_name(std::uint8_t c) {
    if (const auto* row = find_command(c)) return row->name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "CMD 0x%02X", c);
    return buf;
}

}  // namespace zr::protocol
