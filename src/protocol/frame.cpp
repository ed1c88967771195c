#include "protocol/frame.h"

#include <algorithm>

namespace zr::protocol {

Bytes with_crc(const Bytes& payload) {
    Bytes f = payload;
    const auto crc = crc16(payload);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

Bytes reply_payload(std::uint8_t code, std::uint8_t status, const Bytes& data) {
    const std::size_t len = 2 + data.size();
    Bytes p(4 + data.size());
    p[0] = static_cast<std::uint8_t>(len >> 8);
    p[1] = static_cast<std::uint8_t>(len & 0xFF);
    p[2] = code;
    p[3] = status;
    std::copy(data.begin(), data.end(), p.begin() + 4);
    return p;
}

void Reply::copy(std::size_t from, std::size_t n, std::uint8_t* dest) const {
    if (n == 0 || from >= buffer_.size()) return;
    n = std::min(n, buffer_.size() - from);
    std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(from), n, dest);
}

void Reply::copy_data(std::size_t n, std::uint8_t* dest) const {
    const int carried = std::min(count_ - 6, len() - 2);
    const std::size_t k = std::min(n, carried > 0 ? static_cast<std::size_t>(carried) : std::size_t{0});
    copy(4, k, dest);
    std::fill(dest + k, dest + n, std::uint8_t{0});
}

}  // namespace zr::protocol
