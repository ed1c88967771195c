// params: the reader's settings as a file. `dump` reads the system and tag parameter areas,
// the power bytes and the network identity and writes them as a commented text file (JSON with
// --json); `load` writes back only what differs from the reader, showing each change;
// `diff` shows the changes without writing. The reader's network identity ([network]) is left
// alone by load unless --with-network is given: the differences are shown as skipped.
//
// The file, in sections; values in hex, system and tag lines ADDRESS = BYTES (the bytes from
// ADDRESS on); '#' starts a comment:
//
//   [power]     power = 1E 1E                          ZRPowerSet (system area 3-4)
//   [network]   ip, mask, gateway = dotted; mac = hex   ZRNetAddrSet (6-17), ZRMACSet (5)
//   [io]        LINE = VALUE                           ZRIOControlSet, on load only: the
//                                                      library reads no I/O value back
//   [system]    0x12 = 00 00 ...                       ZRSysFastSet; 3-17 are the sections above
//   [tag]       0x00 = 00 00 ...                       ZRTagFastSet
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kAreaSize = 256;
constexpr int kChunk = 52;          // the most one system-area call reads or writes
constexpr int kPowerAt = 3, kMacAt = 5, kNetAt = 6, kNetEnd = 18;
constexpr int kMacSize = 6;
constexpr int kLine = 16;           // bytes per line in the file

// What the file holds, or what was read from the reader.
struct Params {
    std::map<int, std::uint8_t> system, tag;  // address -> byte
    std::optional<Bytes> power, mac;
    std::optional<std::string> ip, mask, gateway;
    std::map<int, int> io;  // line -> value
    std::string system_end, tag_end;  // why a read stopped early ("" when the whole area came)
};

std::string dotted(const std::uint8_t* p) {
    return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." + std::to_string(p[3]);
}

// Hex bytes, two digits each, blanks between them allowed: "1E 1E", "1E1E".
bool parse_bytes(const std::string& text, Bytes& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool field_byte(int address) { return address >= kPowerAt && address < kNetEnd; }

// Reads an area in chunks until its end or the first failure. false when nothing came.
bool read_area(int handle, int(ZR_CALL* query)(int, int, int, unsigned char*), std::map<int, std::uint8_t>& out,
               std::string& end, int& failure) {
    for (int at = 0; at < kAreaSize; at += kChunk) {
        const int n = std::min(kChunk, kAreaSize - at);
        unsigned char buf[256] = {};
        const int r = query(handle, at, n, buf);
        if (r != ZR_OK) {
            if (at == 0) {
                failure = r;
                return false;
            }
            char text[96];
            std::snprintf(text, sizeof text, "reads stop at 0x%02X: %s", at, describe(r, Kind::status).c_str());
            end = text;
            return true;
        }
        for (int i = 0; i < n; ++i) out[at + i] = buf[i];
    }
    return true;
}

// Everything a dump holds. Returns the first failing result, or ZR_OK.
int read_reader(int handle, Params& p) {
    int failure = ZR_OK;
    if (!read_area(handle, ZRSysQuery, p.system, p.system_end, failure)) return failure;
    if (!read_area(handle, ZRTagQuery, p.tag, p.tag_end, failure)) return failure;
    auto byte = [&](int a) { return p.system.count(a) ? p.system[a] : std::uint8_t{0}; };
    if (p.system.count(kNetEnd - 1)) {
        p.power = Bytes{byte(kPowerAt), byte(kPowerAt + 1)};
        std::uint8_t net[12];
        for (int i = 0; i < 12; ++i) net[i] = byte(kNetAt + i);
        p.ip = dotted(net), p.mask = dotted(net + 4), p.gateway = dotted(net + 8);
    }
    unsigned char mac[256] = {};
    if (const int r = ZRSysQuery(handle, kMacAt, kMacSize, mac); r == ZR_OK) p.mac = Bytes(mac, mac + kMacSize);
    for (int a = kPowerAt; a < kNetEnd; ++a) p.system.erase(a);  // kept in their own sections
    return ZR_OK;
}

std::string address_text(int a) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X", a);
    return s;
}

// Runs of consecutive addresses, at most `limit` long; `aligned`: also broken at multiples of
// `limit` (the lines of a file).
std::vector<std::pair<int, Bytes>> runs(const std::map<int, std::uint8_t>& area, int limit, bool aligned = false) {
    std::vector<std::pair<int, Bytes>> out;
    for (const auto& [a, b] : area) {
        if (out.empty() || out.back().first + static_cast<int>(out.back().second.size()) != a ||
            static_cast<int>(out.back().second.size()) >= limit || (aligned && a % limit == 0))
            out.push_back({a, {}});
        out.back().second.push_back(b);
    }
    return out;
}

std::string text_of(const Params& p) {
    std::ostringstream f;
    const std::time_t now = std::time(nullptr);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    f << "# zrtool params, read " << when << "\n"
      << "# 'zrtool params load FILE' writes back what differs from the reader; 'params diff FILE'\n"
      << "# shows it. Values in hex; area lines are ADDRESS = the bytes from ADDRESS on.\n\n";
    f << "[power]                # the two RF power bytes, system area 3-4 (ZRPowerSet)\n";
    if (p.power) f << "power = " << hex(p.power->data(), p.power->size()) << "\n";
    f << "\n[network]              # system area 6-17 (ZRNetAddrSet), MAC at 5 (ZRMACSet)\n";
    if (p.ip) f << "ip = " << *p.ip << "\nmask = " << *p.mask << "\ngateway = " << *p.gateway << "\n";
    if (p.mac) f << "mac = " << hex(p.mac->data(), p.mac->size()) << "\n";
    f << "\n[io]                   # LINE = VALUE, set on load (ZRIOControlSet)\n"
         "# The library reads no I/O value back (ZRIOControlQuery gives only a result): add the\n"
         "# lines to set, for example: 1 = 0\n";
    for (const auto& [line, value] : p.io) f << line << " = " << value << "\n";
    auto area = [&](const char* name, const char* what, const std::map<int, std::uint8_t>& bytes,
                    const std::string& end) {
        f << "\n[" << name << "]" << std::string(22 - std::string(name).size(), ' ') << " # " << what << "\n";
        if (!end.empty()) f << "# " << end << "\n";
        for (const auto& [a, b] : runs(bytes, kLine, true)) f << address_text(a) << " = " << hex(b.data(), b.size()) << "\n";
    };
    area("system", "system parameter area (ZRSysFastSet); 3-17 are in [power] and [network]", p.system,
         p.system_end);
    area("tag", "tag parameter area (ZRTagFastSet)", p.tag, p.tag_end);
    return f.str();
}

Json json_of(const Params& p) {
    auto j = Json::object();
    j.set("verb", "params");
    j.set("action", "dump");
    j.set("power", p.power ? Json(hex(p.power->data(), p.power->size())) : Json());
    auto net = Json::object();
    net.set("ip", p.ip ? Json(*p.ip) : Json());
    net.set("mask", p.mask ? Json(*p.mask) : Json());
    net.set("gateway", p.gateway ? Json(*p.gateway) : Json());
    net.set("mac", p.mac ? Json(hex(p.mac->data(), p.mac->size())) : Json());
    j.set("network", net);
    auto io = Json::object();
    for (const auto& [line, value] : p.io) io.set(std::to_string(line), value);
    j.set("io", io);
    auto area = [](const std::map<int, std::uint8_t>& bytes) {
        auto o = Json::object();
        for (const auto& [a, b] : runs(bytes, kLine, true)) o.set(address_text(a), hex(b.data(), b.size()));
        return o;
    };
    j.set("system", area(p.system));
    j.set("tag", area(p.tag));
    j.set("success", true);
    return j;
}

bool number(std::string s, int max, int& out) {
    s.erase(0, s.find_first_not_of(" \t"));
    s.erase(s.find_last_not_of(" \t\r") + 1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) base = 16, s = s.substr(2);
    if (s.empty() || s.size() > 6) return false;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, base);
    if (*end || v < 0 || v > max) return false;
    out = static_cast<int>(v);
    return true;
}

bool ipv4(const std::string& s) {
    int parts = 0, value = -1;
    for (char c : s + ".") {
        if (c == '.') {
            if (value < 0 || value > 255) return false;
            ++parts, value = -1;
        } else if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value * 10) + (c - '0');
            if (value > 255) return false;
        } else {
            return false;
        }
    }
    return parts == 4;
}

// Reads a file as dump writes it. false + `error` naming the line and what is wrong.
bool parse_file(const std::string& path, Params& p, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string section, line;
    for (int number_of_line = 1; std::getline(in, line); ++number_of_line) {
        auto fail = [&](const std::string& why) {
            error = path + ", line " + std::to_string(number_of_line) + ": " + why;
            return false;
        };
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
            if (section != "power" && section != "network" && section != "io" && section != "system" && section != "tag")
                return fail("unknown section [" + section + "] (power, network, io, system, tag)");
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) return fail("expected KEY = VALUE");
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        key.erase(key.find_last_not_of(" \t") + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        Bytes bytes;
        if (section == "power" && key == "power") {
            if (!parse_bytes(value, bytes) || bytes.size() != 2) return fail("power wants 2 bytes in hex");
            p.power = bytes;
        } else if (section == "network" && (key == "ip" || key == "mask" || key == "gateway")) {
            if (!ipv4(value)) return fail(key + " wants a dotted IPv4 address, not '" + value + "'");
            (key == "ip" ? p.ip : key == "mask" ? p.mask : p.gateway) = value;
        } else if (section == "network" && key == "mac") {
            if (!parse_bytes(value, bytes) || bytes.size() != kMacSize) return fail("mac wants 6 bytes in hex");
            p.mac = bytes;
        } else if (section == "io") {
            int io_line = 0, io_value = 0;
            if (!number(key, 255, io_line) || !number(value, 255, io_value))
                return fail("an I/O line is LINE = VALUE, both bytes");
            p.io[io_line] = io_value;
        } else if (section == "system" || section == "tag") {
            int at = 0;
            if (!number(key, kAreaSize - 1, at)) return fail("an area line starts with an address 0-0xFF");
            if (!parse_bytes(value, bytes) || bytes.empty()) return fail("the bytes are not hex");
            if (at + static_cast<int>(bytes.size()) > kAreaSize) return fail("the bytes run past the end of the area");
            auto& area = section == "system" ? p.system : p.tag;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (section == "system" && field_byte(at + static_cast<int>(i)))
                    return fail("system bytes 3-17 belong in [power] and [network]");
                area[at + static_cast<int>(i)] = bytes[i];
            }
        } else {
            return fail(section.empty() ? "a value before any [section]" : "unknown key '" + key + "' in [" + section + "]");
        }
    }
    if ((p.ip || p.mask || p.gateway) && !(p.ip && p.mask && p.gateway))
        return (error = path + ": [network] wants ip, mask and gateway together", false);
    return true;
}

// One difference between the file and the reader, and how it is written.
struct Change {
    std::string what, from, to;
    std::function<int(int handle, const std::string& section)> write;
    bool compared = true;  // false: the reader's value cannot be read (I/O lines), so it is always set
    bool skipped = false;  // the reader's network identity, left alone without --with-network
};

// The MAC and the IPv4 block identify one reader: a file dumped from another reader would give
// this one its twin's address. They are written only when asked for (--with-network).
constexpr const char* kSkippedNetwork = "skipped: the reader's network identity (--with-network writes it)";

std::vector<Change> changes(const Params& file, const Params& reader, bool with_network) {
    std::vector<Change> out;
    auto area = [&](const char* name, const std::map<int, std::uint8_t>& want, const std::map<int, std::uint8_t>& have,
                    int(ZR_CALL * set)(int, int, int, const unsigned char*)) {
        std::map<int, std::uint8_t> differ;
        for (const auto& [a, b] : want)
            if (!have.count(a) || have.at(a) != b) differ[a] = b;
        for (auto& [at, bytes] : runs(differ, kChunk)) {
            Bytes before;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                auto it = have.find(at + static_cast<int>(i));
                if (it != have.end()) before.push_back(it->second);
            }
            const int n = static_cast<int>(bytes.size());
            out.push_back({std::string(name) + " " + address_text(at) + (n > 1 ? "-" + address_text(at + n - 1) : ""),
                           before.size() == bytes.size() ? hex(before.data(), before.size()) : "(not read)",
                           hex(bytes.data(), bytes.size()),
                           [at, bytes, set](int h, const std::string&) mutable {
                               return set(h, at, static_cast<int>(bytes.size()), bytes.data());
                           }});
        }
    };
    area("system", file.system, reader.system, ZRSysFastSet);
    area("tag", file.tag, reader.tag, ZRTagFastSet);
    if (file.power && file.power != reader.power) {
        const Bytes p = *file.power;
        out.push_back({"power", reader.power ? hex(reader.power->data(), 2) : "(not read)", hex(p.data(), 2),
                       [p](int h, const std::string&) { return ZRPowerSet(h, 0, 2, p[0], p[1]); }});
    }
    if (file.mac && file.mac != reader.mac) {
        Bytes m = *file.mac;
        out.push_back({"mac", reader.mac ? hex(reader.mac->data(), reader.mac->size()) : "(not read)",
                       hex(m.data(), m.size()),
                       [m](int h, const std::string&) mutable { return ZRMACSet(h, 0, kMacSize, m.data()); },
                       true, !with_network});
    }
    for (const auto& [line, value] : file.io)
        out.push_back({"io line " + std::to_string(line), "(not readable)", std::to_string(value),
                       [line = line, value = value](int h, const std::string&) { return ZRIOControlSet(h, line, value); },
                       false});
    // The network last: over TCP the reader may answer from its new address only.
    if (file.ip && (file.ip != reader.ip || file.mask != reader.mask || file.gateway != reader.gateway)) {
        const std::string ip = *file.ip, mask = *file.mask, gateway = *file.gateway;
        out.push_back({"network", reader.ip ? *reader.ip + " " + *reader.mask + " " + *reader.gateway : "(not read)",
                       ip + " " + mask + " " + gateway, [ip, mask, gateway](int h, const std::string& section) {
                           // ZRNetAddrSet answers 1 or 0 only; 0 is a failure here.
                           return ZRNetAddrSet(h, 0, section.c_str(), ip.c_str(), mask.c_str(), gateway.c_str()) == 1
                                      ? ZR_OK
                                      : 0;
                       },
                       true, !with_network});
    }
    return out;
}

int params(Call& c) {
    const auto& words = c.rest();
    const std::string action = words.empty() ? "" : words[0];
    const bool dump = action == "dump";
    if ((!dump && action != "load" && action != "diff") || words.size() > 2 || (!dump && words.size() != 2)) {
        std::fprintf(stderr, "zrtool: params wants dump [FILE], load FILE or diff FILE\n");
        return kExitUsage;
    }
    if (c.flag("with-network") && dump) {
        std::fprintf(stderr, "zrtool: --with-network goes with params load and diff\n");
        return kExitUsage;
    }
    if (c.flag("dry-run") && action != "load") {
        std::fprintf(stderr, "zrtool: --dry-run goes with params load\n");
        return kExitUsage;
    }
    auto fail = [&](const std::string& step, int r) {
        if (c.json())
            std::printf("%s\n", Json::object().set("verb", "params").set("action", action).set("step", step)
                                    .set("result", r).set("text", meaning(r, Kind::status)).set("success", false)
                                    .dump().c_str());
        else
            std::printf("params %s: %s: %s\n", action.c_str(), step.c_str(), describe(r, Kind::status).c_str());
        return kExitFailed;
    };

    Params file;
    if (!dump) {
        std::string error;
        if (!parse_file(words[1], file, error)) {
            std::fprintf(stderr, "zrtool: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    Params reader;
    if (const int r = read_reader(c.handle(), reader); r != ZR_OK) return fail("reading the parameter areas", r);

    if (dump) {
        const std::string text = c.json() ? json_of(reader).dump() + "\n" : text_of(reader);
        if (words.size() == 2) {
            std::ofstream out(words[1], std::ios::binary);
            if (!(out << text) || !out.flush()) {
                std::fprintf(stderr, "zrtool: cannot write %s\n", words[1].c_str());
                return kExitFailed;
            }
            if (!c.json()) std::printf("params dump: written to %s\n", words[1].c_str());
            else std::fputs(text.c_str(), stdout);
        } else {
            std::fputs(text.c_str(), stdout);
        }
        return kExitOk;
    }

    const auto todo = changes(file, reader, c.flag("with-network"));
    const bool write = action == "load" && !c.flag("dry-run");
    bool all_ok = true;
    auto list = Json::array();
    for (const auto& ch : todo) {
        int r = ZR_OK;
        if (write && !ch.skipped) r = ch.write(c.handle(), c.section());
        all_ok = all_ok && r == ZR_OK;
        if (c.json()) {
            auto j = Json::object().set("what", ch.what).set("from", ch.from).set("to", ch.to);
            if (ch.skipped) j.set("skipped", kSkippedNetwork);
            else if (write) put_result(j, r, Kind::status);
            list.push(j);
        } else {
            const std::string after = ch.skipped ? std::string("  ") + kSkippedNetwork
                                      : write    ? "  " + describe(r, Kind::status)
                                                 : "";
            std::printf("%s: %s -> %s%s\n", ch.what.c_str(), ch.from.c_str(), ch.to.c_str(), after.c_str());
        }
    }
    // diff: the exit status says whether they differ, as diff(1) does; load: whether it worked.
    // A skipped difference is shown, not counted: load would leave it.
    const auto skipped = std::count_if(todo.begin(), todo.end(), [](const Change& ch) { return ch.skipped; });
    const auto differences =
        std::count_if(todo.begin(), todo.end(), [](const Change& ch) { return ch.compared && !ch.skipped; });
    const bool ok = action == "diff" ? differences == 0 : all_ok;
    if (c.json()) {
        std::printf("%s\n", Json::object().set("verb", "params").set("action", action).set("file", words[1])
                                .set("dry_run", c.flag("dry-run")).set("with_network", c.flag("with-network"))
                                .set("changes", list).set("success", ok)
                                .dump().c_str());
    } else {
        std::printf("params %s: %ld %s%s%s\n", action.c_str(), static_cast<long>(differences),
                    differences == 1 ? "difference" : "differences",
                    std::any_of(todo.begin(), todo.end(), [](const Change& ch) { return !ch.compared; })
                        ? " (and I/O lines, which cannot be read back)"
                        : "",
                    action == "load" ? (c.flag("dry-run") ? ", nothing written (--dry-run)"
                                                          : all_ok ? ", written" : ", some writes failed")
                                     : "");
        if (skipped > 0)
            std::printf("params %s: %ld skipped: the reader's network identity (MAC, IP, mask, gateway) is kept; "
                        "--with-network writes it\n",
                        action.c_str(), static_cast<long>(skipped));
    }
    return ok ? kExitOk : kExitFailed;
}

const VerbGroup kParams(45, "Parameter files", {
    {"params", "", "the reader's settings as a file: dump [FILE], load FILE, diff FILE",
     {rest_arg("ACTION", "dump [FILE]: read the system and tag parameter areas, power and network settings "
                         "and write them as a commented text file (standard output without FILE; JSON with "
                         "--json). load FILE: write back what differs from the reader, showing each change (the "
                         "network identity only with --with-network). diff FILE: show the differences (exit status 1 "
                         "when there are some)"),
      flag_arg("dry-run", "with load: show the changes, write nothing"),
      flag_arg("with-network", "with load and diff: include the reader's network identity ([network]: MAC, IP "
                               "address, mask, gateway, system area 5-17); without it load leaves them as the "
                               "reader has them, so that a file from one reader does not give another its "
                               "address, and diff shows them as skipped")},
     "zrtool --simulate params dump",
     params, Kind::tool},
});

}  // namespace
}  // namespace zrtool
