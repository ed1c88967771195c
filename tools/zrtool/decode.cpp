// decode: frames taken apart offline, for people who captured bytes from a line or a trace.
// A frame carries no mark telling a request from a reply, so unless --as says which, a frame
// with parameters is shown both ways (its first parameter byte read as a reply's status).
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/codes.h"
#include "protocol/frame.h"
#include "protocol/hex.h"
#include "protocol/serial_codec.h"
#include "protocol/status.h"
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

using Bytes = std::vector<std::uint8_t>;
using zr::protocol::hex;

struct Options {
    bool as_request, as_reply;
    int device_class;
};

// Decodes the frames lying one after another in `bytes`; false when any is damaged.
bool decode_frames(const Bytes& bytes, bool serial, const Options& o, Json& frames, int& number, bool json) {
    bool all_good = true;
    std::size_t at = 0;
    while (at < bytes.size()) {
        ++number;
        const Bytes rest(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
        auto f = Json::object();
        std::vector<std::pair<std::string, std::string>> lines;
        std::string problem;
        const std::size_t len = rest.size() >= 2 ? rest[0] * 256u + rest[1] : 0;
        const std::size_t size = len + 4;
        const std::size_t have = std::min(rest.size(), size);
        f.set("bytes", hex(rest.data(), len ? have : rest.size()));
        if (serial) {
            f.set("serial", true);
            lines.push_back({"serial", "start byte and stuffing removed"});
        }
        if (rest.size() < 3) {
            problem = "too short for a frame (" + std::to_string(rest.size()) + " bytes)";
        } else if (len == 0) {
            problem = "length 0: no command code";
        } else {
            f.set("length", static_cast<long long>(len));
            f.set("size", static_cast<long long>(size));
            lines.push_back({"length", "LEN " + std::to_string(len) + ", " + std::to_string(size) + " bytes with CRC"});
            const std::uint8_t code = rest[2];
            const std::string name = zr::protocol::command_name(code);
            char code_text[8];
            std::snprintf(code_text, sizeof code_text, "0x%02X", code);
            f.set("command", static_cast<long long>(code));
            f.set("name", name);
            lines.push_back({"command", std::string(code_text) + " " + name});
            if (rest.size() < size) {
                problem = "truncated: LEN says " + std::to_string(size) + " bytes, " + std::to_string(rest.size()) +
                          " present";
            } else {
                const Bytes payload(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(len + 2));
                const Bytes framed = zr::protocol::with_crc(payload);
                const std::string expected = hex(&framed[len + 2], 2), got = hex(&rest[len + 2], 2);
                const bool crc_ok = expected == got;
                f.set("crc", got);
                f.set("crc_ok", crc_ok);
                if (crc_ok) {
                    lines.push_back({"crc", got + " good"});
                } else {
                    f.set("crc_expected", expected);
                    lines.push_back({"crc", got + " BAD (the bytes before it give " + expected + ")"});
                    problem = "CRC does not match";
                }
                if (size > 100) lines.push_back({"note", "longer than a TCP reply may be (100 bytes)"});
                const bool reply = o.as_reply && len >= 2;
                const bool request = o.as_request || len < 2;
                if (request) {
                    const std::string params = len > 1 ? hex(&rest[3], len - 1) : "";
                    f.set("request", Json::object().set("parameters", params));
                    lines.push_back({reply ? "as request" : "request", params.empty() ? "no parameters" : "parameters " + params});
                }
                if (reply) {
                    const std::uint8_t status = rest[3];
                    const int result = zr::protocol::map_status(status, o.device_class);
                    const std::string data = len > 2 ? hex(&rest[4], len - 2) : "";
                    auto r = Json::object();
                    r.set("status", static_cast<long long>(status));
                    r.set("result", result);
                    r.set("text", ZRResultText(result));
                    r.set("data", data);
                    f.set("reply", r);
                    char status_text[8];
                    std::snprintf(status_text, sizeof status_text, "0x%02X", status);
                    lines.push_back({request ? "as reply" : "reply", std::string("status ") + status_text + " -> " +
                                                                         std::to_string(result) + " " +
                                                                         ZRResultText(result) + "; data " +
                                                                         (data.empty() ? "none" : data)});
                }
            }
        }
        f.set("ok", problem.empty());
        if (!problem.empty()) {
            f.set("problem", problem);
            lines.push_back({"problem", problem});
            all_good = false;
        }
        frames.push(f);
        if (!json) {
            std::printf("frame %d: %s\n", number, f.members()[0].value.str().c_str());
            for (const auto& [k, v] : lines) std::printf("  %-11s %s\n", (k + ":").c_str(), v.c_str());
        }
        if (!problem.empty()) break;  // without a sound length the next frame cannot be found
        at += size;
    }
    return all_good;
}

int decode(Call& c) {
    std::string input;
    const auto& words = c.rest();
    if (words.size() == 1 && words[0] == "-") {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        for (const auto& w : words) input += w + " ";
    }
    Bytes bytes;
    if (words.empty() || !zr::protocol::parse_hex(input, bytes) || bytes.empty()) {
        std::fprintf(stderr, "zrtool: decode wants frames in hex, two digits a byte: zrtool decode 00 01 61 07 46\n");
        return kExitUsage;
    }
    const std::string as = c.text("as");
    if (as != "both" && as != "request" && as != "reply") {
        std::fprintf(stderr, "zrtool: decode --as wants request, reply or both, not '%s'\n", as.c_str());
        return kExitUsage;
    }
    const int device_class = c.byte("device-class");
    if (device_class < 1 || device_class > 3) {
        std::fprintf(stderr, "zrtool: decode --device-class wants 1, 2 or 3\n");
        return kExitUsage;
    }
    const Options o{as != "reply", as != "request", device_class};

    auto frames = Json::array();
    int number = 0;
    bool good = true;
    if (bytes[0] == 0x55) {
        for (const auto& frame : zr::protocol::unstuff_pieces(bytes)) good = decode_frames(frame, true, o, frames, number, c.json()) && good;
    } else {
        good = decode_frames(bytes, false, o, frames, number, c.json());
    }
    if (c.json()) {
        auto j = Json::object();
        j.set("verb", "decode");
        j.set("success", good);
        j.set("frames", frames);
        std::printf("%s\n", j.dump().c_str());
    }
    return good ? kExitOk : kExitFailed;
}

const VerbGroup kTools(90, "Tools", {
    {"decode", "", "decode frames offline: length, command, status and its result, CRC check",
     {rest_arg("HEX", "frame bytes in hex; several frames one after another; - reads standard input; "
                      "a leading 55 means serial wire bytes (start byte and stuffing are removed)"),
      text_arg("as", "both", "read frames as request, reply or both"),
      byte_arg("device-class", "3", "device class whose status table maps a reply's status (1, 2 or 3)")},
     "zrtool decode 00 03 71 01 00 BC D7",
     decode, Kind::tool, false},
});

}  // namespace
}  // namespace zrtool
