#include "protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "link/frame.h"

namespace zr::sim {

std::string command_name(std::uint8_t code) {
    static const std::map<std::uint8_t, const char*> names = {
        {0x49, "LONG_IDENTIFY"},   {0x4A, "USER_IDENTIFY"},   {0x4B, "SET_INTERFERE(1,2)"},
        {0x4C, "GET_INTERFERE(1,2)"}, {0x4D, "CLOSE_INTERFERE(1,2)"}, {0x5F, "CODE_SENDING"},
        {0x60, "POWER_ON"},        {0x61, "POWER_OFF"},       {0x62, "SYS_QUERY"},
        {0x63, "SYS_SET"},         {0x64, "TAG_QUERY"},       {0x65, "TAG_SET"},
        {0x67, "RESET/TEST_MODE"}, {0x68, "DATA_RETURN"},     {0x6A, "SET_INTERFERE"},
        {0x6B, "GET_INTERFERE"},   {0x6C, "CLOSE_INTERFERE"}, {0x6D, "EPC_PRINT_POWER"},
        {0x70, "SELECT_TAG"},      {0x71, "IDENTIFY"},        {0x72, "READ_USER_DATA"},
        {0x73, "WRITE_USER_DATA"}, {0x74, "LOCK_USER_DATA"},  {0x80, "SELECT_TAG_EPC"},
        {0x81, "IDENTIFY_EPC"},    {0x82, "IDENTIFY_TID"},    {0x83, "SET_EPC"},
        {0x84, "READ_WORDS"},      {0x85, "SET_USE_DATA"},    {0x88, "SET_VISIT_PWD"},
        {0x89, "SET_DESTROY_PWD"}, {0x8A, "SET_DATA_LOCKED"}, {0x8B, "DESTROY_TAG"},
        {0x8C, "CONFIG_EAS_FLAG"}, {0x8D, "EAS_ALARM"},       {0xA0, "GET_READER_STATE"},
        {0xA1, "LISTEN"},          {0xA2, "SET_READER_TIME"}, {0xA3, "SET_FIX_NO"},
        {0xA4, "GET_FIX_NO"},      {0xD0, "DIRECT_READ"},     {0xD1, "IO_CONTROL_SET"},
        {0xD2, "IO_CONTROL_QUERY"},
    };
    auto it = names.find(code);
    if (it != names.end()) return it->second;
    char buf[16];
    std::snprintf(buf, sizeof buf, "CMD 0x%02X", code);
    return buf;
}

Bytes with_crc(const Bytes& payload) {
    Bytes f = payload;
    auto crc = link::crc16(payload);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

Bytes serial_wire(const Bytes& payload) {
    Bytes out{0x55};
    for (auto b : with_crc(payload)) {
        if (b == 0x55) {
            out.push_back(0x56);
            out.push_back(0x56);
        } else if (b == 0x56) {
            out.push_back(0x56);
            out.push_back(0x57);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

Bytes reply_payload(std::uint8_t code, std::uint8_t status, const Bytes& data) {
    std::size_t len = 2 + data.size();
    Bytes p(4 + data.size());
    p[0] = static_cast<std::uint8_t>(len >> 8);
    p[1] = static_cast<std::uint8_t>(len & 0xFF);
    p[2] = code;
    p[3] = status;
    std::copy(data.begin(), data.end(), p.begin() + 4);
    return p;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

bool parse_hex(const std::string& text, Bytes& out) {
    out.clear();
    int nibble = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && nibble < 0) {
            ++i;
            continue;
        }
        if (c == ' ' || c == ',' || c == ':' || c == '-' || c == '\t' || c == '\n') {
            if (nibble >= 0) return false;  // a lone digit before a separator
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return nibble < 0;
}

std::vector<Bytes> FrameDecoder::feed(const std::uint8_t* p, std::size_t n) {
    std::vector<Bytes> out;
    for (std::size_t i = 0; i < n; ++i) take(p[i], out);
    return out;
}

void FrameDecoder::take(std::uint8_t b, std::vector<Bytes>& out) {
    if (serial_) {
        if (b == 0x55) {  // a start byte always begins a new frame
            in_frame_ = true;
            escaped_ = false;
            frame_.clear();
            return;
        }
        if (!in_frame_) return;
        if (escaped_) {
            escaped_ = false;
            b = b == 0x56 ? 0x55 : b == 0x57 ? 0x56 : b;
        } else if (b == 0x56) {
            escaped_ = true;
            return;
        }
    }
    frame_.push_back(b);
    if (frame_.size() < 3) return;
    std::size_t total = static_cast<std::size_t>(frame_[0]) * 256 + frame_[1] + 4;
    if (frame_.size() < total) return;
    if (link::crc16(frame_) == 0) {
        frame_.resize(frame_.size() - 2);
        out.push_back(std::move(frame_));
    } else {
        ++bad_frames;
    }
    frame_.clear();
    in_frame_ = false;
}

}  // namespace zr::sim
