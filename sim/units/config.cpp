#include "units/config.h"

#include <algorithm>

#include "units/core.h"

namespace zr::sim {
namespace {

constexpr std::size_t kReadOnly[][2] = {{0, 3}, {0x21, 0x25}};  // [from, to)
constexpr std::size_t kMacMax = 8;
constexpr std::size_t kReplyDataMax = 250;  // a reply frame holds at most 256 bytes
constexpr std::size_t kIdentitySize = 5;
constexpr std::size_t kStateReplySize = 7;
constexpr std::size_t kClockSize = 6;

bool read_only(std::size_t address) {
    for (const auto& r : kReadOnly)
        if (address >= r[0] && address < r[1]) return true;
    return false;
}

// An error status followed by `width` zero bytes: the data a client waits for.
Bytes failure(const ReaderModel& m, std::uint8_t code, Error e, std::size_t width = 0) {
    return reply_payload(code, m.status(e), Bytes(width, 0));
}

// The width a length-0 query answers with, for the field starting at `address`.
std::size_t field_width(std::uint8_t address, std::size_t mac_size) {
    switch (address) {
        case ConfigUnit::kPowerAddress: return 2;
        case ConfigUnit::kMacAddress: return mac_size;
        case ConfigUnit::kNetAddress: return 12;
        case ConfigUnit::kDeviceInfoAddress: return 4;
        case ConfigUnit::kFrequencyAddress: return ConfigUnit::kFrequencyTableSize;
        default: return 0;
    }
}

bool valid_clock(const Request& r) {
    const auto year = r[0], month = r[1], day = r[2], hour = r[3], minute = r[4], second = r[5];
    return year <= 99 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 &&
           second < 60;
}

}  // namespace

ConfigUnit::ConfigUnit(ReaderModel& m) : model_(m) {
    system[0] = 0x01;                                  // reader type
    system[1] = CoreUnit::kFirmwareVersion.size() > 0 ? CoreUnit::kFirmwareVersion[0] : 0;
    system[2] = CoreUnit::kFirmwareVersion.size() > 1 ? CoreUnit::kFirmwareVersion[1] : 0;
    system[3] = 0x1E;                                  // 30 dBm on both power settings
    system[4] = 0x1E;
    const std::uint8_t net[12] = {192, 168, 1, 200, 255, 255, 255, 0, 192, 168, 1, 1};
    std::copy(std::begin(net), std::end(net), system.begin() + kNetAddress);
    mac = {0x02, 0x5A, 0x52, 0x00, 0x00, 0x01};      // a locally administered address
    // 16 channels from 902.75 MHz in 500 kHz steps.
    system[kFrequencyAddress] = 16;
    for (unsigned i = 0; i < 16; ++i) {
        unsigned f = 10275 + 50 * i;  // 10 kHz above 800 MHz
        system[kFrequencyAddress + 1 + 2 * i] = static_cast<std::uint8_t>(f >> 8);
        system[kFrequencyAddress + 2 + 2 * i] = static_cast<std::uint8_t>(f & 0xFF);
    }
    clock = {26, 1, 1, 0, 0, 0};

    m.on(code::sys_query, [this, &m](const Request& r) { return query(m, code::sys_query, r, true); });
    m.on(code::sys_set, [this, &m](const Request& r) {
        if (r.size() == 3 && r[1] != 1) return byte_write(m, r);
        return block_write(m, code::sys_set, r, true);
    });
    m.on(code::tag_query, [this, &m](const Request& r) -> Replies {
        if (r.size() == 2) return query(m, code::tag_query, r, false);
        if (r.size() != 3 || r[1] < 1 || r[1] > 4 || r[2] < 1 || r[2] > 2)
            return {failure(m, code::tag_query, Error::bad_request, read_config.size())};
        read_config = {r[0], r[1], r[2]};
        return {ReaderModel::ok(code::tag_query, Bytes(read_config.begin(), read_config.end()))};
    });
    m.on(code::tag_set, [this, &m](const Request& r) { return block_write(m, code::tag_set, r, false); });

    m.on(code::power_on, [this, &m](const Request& r) -> Replies {
        if (r.size() != 1) return {failure(m, code::power_on, Error::bad_request)};
        rf_on = true;
        power_on_value = r[0];
        return {ReaderModel::ok(code::power_on)};
    });
    m.on(code::power_off, [this, &m](const Request& r) -> Replies {
        if (r.size() != 0) return {failure(m, code::power_off, Error::bad_request)};
        rf_on = false;
        return {ReaderModel::ok(code::power_off)};
    });
    m.on(code::io_control_set, [this, &m](const Request& r) -> Replies {
        if (r.size() != 2) return {failure(m, code::io_control_set, Error::bad_request)};
        io_lines[r[0]] = r[1];
        return {ReaderModel::ok(code::io_control_set)};
    });
    m.on(code::io_control_query, [this, &m](const Request& r) -> Replies {
        if (r.size() != 1) return {failure(m, code::io_control_query, Error::bad_request, 1)};
        return {ReaderModel::ok(code::io_control_query, {io_lines[r[0]]})};
    });

    // Interference: each code is known only to the readers of its class.
    struct Codes {
        std::uint8_t set, get, close;
        bool class3;
    };
    for (Codes c : {Codes{code::set_interfere, code::get_interfere, code::close_interfere, true},
                    Codes{code::set_interfere_12, code::get_interfere_12, code::close_interfere_12, false}}) {
        auto mine = [&m, c] { return (m.device_class == 3) == c.class3; };
        m.on(c.set, [this, &m, c, mine](const Request& r) -> Replies {
            if (!mine()) return {m.error(c.set, Error::unknown_command)};
            if (r.size() != 3) return {failure(m, c.set, Error::bad_request, 2)};
            interference = {r[0], r[1]};
            interference_active = true;
            return {ReaderModel::ok(c.set, {interference[0], interference[1]})};
        });
        m.on(c.get, [this, &m, c, mine](const Request& r) -> Replies {
            if (!mine()) return {m.error(c.get, Error::unknown_command)};
            if (r.size() != 1) return {failure(m, c.get, Error::bad_request, 5)};
            return {ReaderModel::ok(c.get, {r[0], interference[0], interference[1],
                                            static_cast<std::uint8_t>(interference_active ? 1 : 0), 0})};
        });
        m.on(c.close, [this, &m, c, mine](const Request& r) -> Replies {
            if (!mine()) return {m.error(c.close, Error::unknown_command)};
            if (r.size() != 0) return {failure(m, c.close, Error::bad_request, 2)};
            interference = {0, 0};
            interference_active = false;
            return {ReaderModel::ok(c.close, {0, 0})};
        });
    }

    m.on(code::epc_print_power, [this, &m](const Request& r) -> Replies {
        if (r.size() != 1) return {failure(m, code::epc_print_power, Error::bad_request, kIdentitySize)};
        epc_print_power = r[0];
        return {ReaderModel::ok(code::epc_print_power, identity())};
    });
    m.on(code::get_reader_state, [this, &m](const Request& r) -> Replies {
        if (r.size() != 1) return {failure(m, code::get_reader_state, Error::bad_request, kStateReplySize)};
        const auto in_field = std::min<std::size_t>(m.tags_in_field().size(), 255);
        return {ReaderModel::ok(code::get_reader_state, {r[0], static_cast<std::uint8_t>(rf_on ? 1 : 0),
                                                         static_cast<std::uint8_t>(m.unit<CoreUnit>().test_mode),
                                                         static_cast<std::uint8_t>(interference_active ? 1 : 0),
                                                         fixed_number, static_cast<std::uint8_t>(in_field), 0})};
    });
    m.on(code::set_reader_time, [this, &m](const Request& r) -> Replies {
        if (r.size() != kClockSize + 1 || !valid_clock(r))
            return {failure(m, code::set_reader_time, Error::bad_request, kClockSize)};
        std::copy_n(r.params.begin(), kClockSize, clock.begin());
        return {ReaderModel::ok(code::set_reader_time, Bytes(clock.begin(), clock.end()))};
    });
    m.on(code::set_fix_no, [this, &m](const Request& r) -> Replies {
        if (r.size() != 1) return {failure(m, code::set_fix_no, Error::bad_request, kIdentitySize)};
        fixed_number = r[0];
        return {ReaderModel::ok(code::set_fix_no, identity())};
    });
    m.on(code::get_fix_no, [this, &m](const Request& r) -> Replies {
        if (r.size() != 0) return {failure(m, code::get_fix_no, Error::bad_request, kIdentitySize)};
        return {ReaderModel::ok(code::get_fix_no, identity())};
    });
}

std::uint8_t ConfigUnit::system_byte(std::size_t address) const {
    if (address >= kDeviceInfoAddress && address < kDeviceInfoAddress + 4u)
        return address == kDeviceInfoAddress ? static_cast<std::uint8_t>(model_.device_class) : 0;
    return address < system.size() ? system[address] : 0;
}

Bytes ConfigUnit::identity() const {
    Bytes out{fixed_number};
    for (std::size_t i = 0; i < 4; ++i) out.push_back(system_byte(kDeviceInfoAddress + i));
    return out;
}

Replies ConfigUnit::query(ReaderModel& m, std::uint8_t code, const Request& r, bool system_area) {
    if (r.size() != 2) return {failure(m, code, Error::bad_request)};
    const std::uint8_t address = r[0];
    std::size_t length = r[1];
    if (length == 0 && system_area) length = field_width(address, mac.size());
    if (length > kReplyDataMax) return {failure(m, code, Error::bad_request)};
    if (system_area && address == kMacAddress) {
        Bytes data(length, 0);
        std::copy_n(mac.begin(), std::min(length, mac.size()), data.begin());
        return {ReaderModel::ok(code, data)};
    }
    if (address + length > kAreaSize) return {failure(m, code, Error::out_of_range, length)};
    Bytes data(length);
    for (std::size_t i = 0; i < length; ++i) data[i] = system_area ? system_byte(address + i) : tag_area[address + i];
    return {ReaderModel::ok(code, data)};
}

Replies ConfigUnit::block_write(ReaderModel& m, std::uint8_t code, const Request& r, bool system_area) {
    if (r.size() < 2 || r[1] != r.size() - 2) return {failure(m, code, Error::bad_request)};
    const std::uint8_t address = r[0];
    const std::size_t count = r[1];
    const auto* data = r.params.data() + 2;
    if (system_area && address == kMacAddress) {
        if (count == 0 || count > kMacMax) return {failure(m, code, Error::bad_request)};
        mac.assign(data, data + count);
        return {ReaderModel::ok(code)};
    }
    if (address + count > kAreaSize) return {failure(m, code, Error::out_of_range)};
    if (system_area)
        for (std::size_t i = 0; i < count; ++i)
            if (read_only(address + i)) return {failure(m, code, Error::locked)};
    auto& area = system_area ? system : tag_area;
    std::copy_n(data, count, area.begin() + address);
    return {ReaderModel::ok(code)};
}

Replies ConfigUnit::byte_write(ReaderModel& m, const Request& r) {
    const std::size_t address = static_cast<std::size_t>(r[0]) * 256 + r[1];
    if (address >= kAreaSize) return {failure(m, code::sys_set, Error::out_of_range)};
    // The MAC is written as a block.
    if (read_only(address) || address == kMacAddress) return {failure(m, code::sys_set, Error::locked)};
    system[address] = r[2];
    return {ReaderModel::ok(code::sys_set)};
}

std::unique_ptr<Unit> make_config_unit(ReaderModel& m) { return std::make_unique<ConfigUnit>(m); }

}  // namespace zr::sim
