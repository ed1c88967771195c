// The reader's configuration: system and tag parameter areas, RF power, I/O lines,
// interference settings, clock, fixed number and state.
//
// Over TCP the library takes a reply only when it is at least as long as each command
// demands, so every reply here carries the data bytes listed below, and an error reply to a
// command that demands data carries the same number of zero bytes after its status: the
// client then sees the reader's status on both links. Replies are LEN, code, status, data.
//
// System parameter area (0x62 read, 0x63 write), 256 bytes:
//   0       reader type (read-only)          1-2   firmware version (read-only)
//   3-4     RF power bytes                   5     the MAC register (below; a single-byte
//           write there is refused as locked, block reads and writes that start below 5
//           reach the plain byte behind it)
//   6-9     IPv4 address  10-13 mask  14-17 gateway (first number of the dotted text first)
//   0x21-0x24 device information (read-only): the model code of the device class, 32-bit
//           little-endian (1, 2 or 3: what ZRSetDeviceClass takes)
//   0x40-0x71 frequency table: channel count, then per channel its frequency in 10 kHz
//           steps above 800 MHz, two bytes big-endian
//   every other byte is free storage, 0 at start.
//   The MAC is kept apart from the bytes so that the six MAC bytes and the IPv4 block that
//   starts at the next address do not overwrite one another: a block write that starts at 5
//   stores its 1 to 8 data bytes as the MAC, and a query at 5 returns them (zeros after).
//
// 0x62 query, params address, length: `length` bytes from `address` (the TCP client wants
//   all of them). Length 0 asks for the field that starts at `address`: 3 power (2 bytes),
//   5 MAC, 6 network block (12), 0x21 device information (4), 0x40 frequency table (50);
//   at any other address it is answered with no data. Past the end of the area: out of range.
// 0x63 write, two shapes:
//   address high, address low, value (3 params): one byte at a 16-bit address;
//   address, count, data (count + 2 params; count must match): a block.
//   Three params with a middle byte of 1 are the one-byte block (address, 1, value): the one
//   16-bit address inside the area whose low byte is 1 is address 1, read-only either way.
//   A single-byte write to 0x0101..0xFF01 is therefore taken as a block write at 0x01..0xFF.
//   Writing a read-only byte: locked; past the end: out of range.
// 0x64 two shapes:
//   address, length (2 params): the tag parameter area (256 bytes), as 0x62;
//   antenna control, read mode 1-4, read option 1-2 (3 params): the read configuration;
//   answered with the three bytes in force (9-byte frame; the TCP client wants at least 9).
// 0x65 block write into the tag parameter area (address, count, data).
// 0x60 power on (value): status only. 0x61 power off: status only.
// 0xD1 I/O set (line, value): status only. 0xD2 I/O query (line): the line's value (1 byte).
// Interference, under the codes of the device class only (class 3: 0x6A/0x6B/0x6C, classes 1
//   and 2: 0x4B/0x4C/0x4D; the others are unknown commands):
//   set (s0, s1, antenna control): the two settings in force (2 bytes, an 8-byte frame);
//   get (antenna control): antenna control, s0, s1, active (0/1), 0 (an 11-byte frame);
//   close: the settings cleared, 0 0 (2 bytes).
// Clock and state (the TCP client wants 11-byte frames, 5 data bytes at least):
//   0x6D EPC print power (value), 0xA3 set fixed number (n), 0xA4 get fixed number: the
//     identity record: fixed number, then the four device information bytes;
//   0xA0 state (value): value, then the six state bytes: RF power on (0/1), test mode,
//     interference active (0/1), fixed number, tags in the field, 0;
//   0xA2 set clock (6 clock bytes, value): the clock bytes, year (00-99), month (1-12),
//     day (1-31), hour, minute, second, binary; anything else is a bad request.
// A request whose length does not fit its command is a bad request.
#pragma once

#include <array>

#include "model.h"

namespace zr::sim {

class ConfigUnit final : public Unit {
public:
    explicit ConfigUnit(ReaderModel& m);

    static constexpr std::size_t kAreaSize = 256;
    static constexpr std::uint8_t kPowerAddress = 3;
    static constexpr std::uint8_t kMacAddress = 5;
    static constexpr std::uint8_t kNetAddress = 6;
    static constexpr std::uint8_t kDeviceInfoAddress = 0x21;
    static constexpr std::uint8_t kFrequencyAddress = 0x40;
    static constexpr std::size_t kFrequencyTableSize = 50;

    std::array<std::uint8_t, kAreaSize> system{};
    std::array<std::uint8_t, kAreaSize> tag_area{};
    Bytes mac;
    std::array<std::uint8_t, 3> read_config{0, 1, 1};  // antenna control, mode, option
    bool rf_on = false;
    std::uint8_t power_on_value = 0;
    std::array<std::uint8_t, 256> io_lines{};
    std::array<std::uint8_t, 2> interference{};
    bool interference_active = false;
    std::array<std::uint8_t, 6> clock{};
    std::uint8_t fixed_number = 1;
    std::uint8_t epc_print_power = 0;

    // The system area as a client reads it (device information follows the device class).
    std::uint8_t system_byte(std::size_t address) const;

private:
    Replies query(ReaderModel& m, std::uint8_t code, const Request& r, bool system_area);
    Replies block_write(ReaderModel& m, std::uint8_t code, const Request& r, bool system_area);
    Replies byte_write(ReaderModel& m, const Request& r);
    Bytes identity() const;

    ReaderModel& model_;
};

}  // namespace zr::sim
