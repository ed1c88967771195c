#include "config.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include "core/known_keys.h"

namespace zrgate {
namespace {

constexpr std::string_view kGatewaySection = "gateway";
constexpr std::string_view kSpecialSection = "ESPECIAL FLAG";  // the library's own, not a reader

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

struct Entry {
    std::string key, value;  // value: unquoted, cut at ';', trimmed
    int line;
};

struct Section {
    std::string name;
    int line;
    std::vector<Entry> entries;
};

// Values end at ';' and lose surrounding blanks, as the library reads its own keys (which also
// lose inner blanks: see library_value).
std::string value_of(std::string_view raw) {
    raw = trim(raw);
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
    if (auto semi = raw.find(';'); semi != std::string_view::npos) raw = raw.substr(0, semi);
    return std::string(trim(raw));
}

std::string library_value(const std::string& v) {
    std::string out;
    for (char c : v)
        if (c != ' ' && c != '\t') out += c;
    return out;
}

class Checker {
public:
    Checker(std::string file, std::vector<std::string>& errors) : file_(std::move(file)), errors_(errors) {}

    void at(int line, const std::string& section, const std::string& key, const std::string& what) {
        std::string e = file_ + ":" + std::to_string(line) + ": ";
        if (!section.empty()) e += "[" + section + "] ";
        if (!key.empty()) e += key + ": ";
        errors_.push_back(e + what);
    }

private:
    std::string file_;
    std::vector<std::string>& errors_;
};

bool parse_int(const std::string& v, long lo, long hi, long& out) {
    if (v.empty()) return false;
    std::size_t i = 0;
    long n = 0;
    for (; i < v.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(v[i]))) return false;
        n = n * 10 + (v[i] - '0');
        if (n > hi) return false;
    }
    if (n < lo) return false;
    out = n;
    return true;
}

// A name that can stand as one MQTT topic level and in a file name: no wildcards, no '/'.
bool topic_level_ok(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
}

bool dotted_ipv4(const std::string& s) {
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        unsigned n = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < 4)
            n = n * 10 + static_cast<unsigned>(s[i++] - '0'), ++digits;
        if (digits == 0 || digits > 3 || n > 255) return false;
        if (++parts < 4) {
            if (i >= s.size() || s[i] != '.') return false;
            ++i;
        }
    }
    return i == s.size() && s != "0.0.0.0" && s != "255.255.255.255";
}

// The console's "[ADDRESS:]PORT": any IPv4 address, 0.0.0.0 for every interface.
bool parse_listen(const std::string& v, std::string& address, int& port) {
    const auto colon = v.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : v.substr(0, colon);
    long n = 0;
    if (!parse_int(colon == std::string::npos ? v : v.substr(colon + 1), 1, 65535, n)) return false;
    if (host != "0.0.0.0" && !dotted_ipv4(host)) return false;
    address = host;
    port = static_cast<int>(n);
    return true;
}

std::string relative_to(const std::string& config, const std::string& path) {
    std::filesystem::path p(path);
    if (p.is_absolute()) return path;
    return (std::filesystem::path(config).parent_path() / p).string();
}

// The library's keys that a reader section may hold, lower case; the connection keys and
// ZR_REPLY_TIMING and ZR_TCP_PORT are checked below.
const std::set<std::string> kLibraryKeys = [] {
    std::set<std::string> keys;
    for (const char* k : zr::core::kKnownKeys) keys.insert(lower(k));
    for (const char* k : zr::core::kWrittenKeys) keys.insert(lower(k));
    return keys;
}();

}  // namespace

GatewayConfig load_config(const std::string& path, std::vector<std::string>& errors) {
    GatewayConfig c;
    c.file = path;
    Checker check(path, errors);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors.push_back(path + ": cannot read the file");
        return c;
    }

    // Sections in file order; a name given twice is refused (the library would use the first).
    std::vector<Section> sections;
    std::map<std::string, int> seen;
    std::string raw;
    for (int n = 1; std::getline(in, raw); ++n) {
        std::string_view line = raw;
        if (n == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        auto t = trim(line);
        if (t.empty() || t.front() == ';' || t.front() == '#') continue;
        if (t.front() == '[') {
            auto close = t.find(']');
            if (close == std::string_view::npos) {
                check.at(n, "", "", "section header without ']'");
                continue;
            }
            std::string name(trim(t.substr(1, close - 1)));
            if (auto [it, fresh] = seen.emplace(lower(name), n); !fresh) {
                check.at(n, name, "", "section given twice (first at line " + std::to_string(it->second) + ")");
                sections.push_back({name, n, {}});  // collects its keys for nothing
                sections.back().name.clear();
                continue;
            }
            sections.push_back({name, n, {}});
            continue;
        }
        auto eq = t.find('=');
        if (eq == std::string_view::npos) {
            check.at(n, sections.empty() ? "" : sections.back().name, "", "neither a [section] nor KEY=VALUE");
            continue;
        }
        if (sections.empty()) {
            check.at(n, "", std::string(trim(t.substr(0, eq))), "a key before any [section]");
            continue;
        }
        auto& s = sections.back();
        Entry e{std::string(trim(t.substr(0, eq))), value_of(t.substr(eq + 1)), n};
        auto dup = std::find_if(s.entries.begin(), s.entries.end(),
                                [&](const Entry& o) { return lower(o.key) == lower(e.key); });
        if (dup != s.entries.end()) {
            check.at(n, s.name, e.key, "given twice in the section (first at line " + std::to_string(dup->line) + ")");
            continue;
        }
        s.entries.push_back(std::move(e));
    }

    const Section* gateway = nullptr;
    for (const auto& s : sections)
        if (!s.name.empty() && lower(s.name) == kGatewaySection) gateway = &s;
    if (!gateway) {
        errors.push_back(path + ": no [gateway] section (it names the site and the broker)");
        return c;
    }

    // [gateway]: each key with its check.
    auto number = [&](const Entry& e, long lo, long hi, auto& out) {
        long v = 0;
        if (!parse_int(e.value, lo, hi, v))
            check.at(e.line, gateway->name, e.key,
                     "'" + e.value + "' is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
        else
            out = static_cast<std::remove_reference_t<decltype(out)>>(v);
    };
    bool spool_given = false;
    const std::map<std::string, std::function<void(const Entry&)>> gateway_keys = {
        {"site", [&](const Entry& e) {
             if (!topic_level_ok(e.value))
                 check.at(e.line, gateway->name, e.key, "'" + e.value + "': use letters, digits, '-', '_' and '.'");
             c.site = e.value;
         }},
        {"broker", [&](const Entry& e) {
             if (e.value.empty()) check.at(e.line, gateway->name, e.key, "empty");
             c.broker = e.value;
         }},
        {"port", [&](const Entry& e) { number(e, 1, 65535, c.port); }},
        {"client_id", [&](const Entry& e) {
             if (e.value.empty() || e.value.size() > 65535) check.at(e.line, gateway->name, e.key, "empty or too long");
             c.client_id = e.value;
         }},
        {"credentials", [&](const Entry& e) {
             c.credentials_file = relative_to(path, e.value);
             std::ifstream f(c.credentials_file);
             std::string first;
             if (!f || !std::getline(f, first)) {
                 check.at(e.line, gateway->name, e.key, "cannot read " + c.credentials_file);
                 return;
             }
             if (!first.empty() && first.back() == '\r') first.pop_back();
             auto colon = first.find(':');
             if (colon == std::string::npos || colon == 0)
                 check.at(e.line, gateway->name, e.key, c.credentials_file + ": the first line must be USER:PASSWORD");
             else
                 c.username = first.substr(0, colon), c.password = first.substr(colon + 1);
         }},
        {"ca_file", [&](const Entry& e) {
             c.ca_file = relative_to(path, e.value);
             if (!std::ifstream(c.ca_file)) check.at(e.line, gateway->name, e.key, "cannot read " + c.ca_file);
         }},
        {"cert_file", [&](const Entry& e) {
             c.cert_file = relative_to(path, e.value);
             if (!std::ifstream(c.cert_file)) check.at(e.line, gateway->name, e.key, "cannot read " + c.cert_file);
         }},
        {"key_file", [&](const Entry& e) {
             c.key_file = relative_to(path, e.value);
             if (!std::ifstream(c.key_file)) check.at(e.line, gateway->name, e.key, "cannot read " + c.key_file);
         }},
        {"strict_permissions", [&](const Entry& e) {
             const auto v = lower(e.value);
             if (v == "true" || v == "yes" || v == "1") c.strict_permissions = true;
             else if (v == "false" || v == "no" || v == "0") c.strict_permissions = false;
             else check.at(e.line, gateway->name, e.key, "'" + e.value + "': true or false");
         }},
        {"qos", [&](const Entry& e) { number(e, 0, 2, c.qos); }},
        {"topic_prefix", [&](const Entry& e) {
             // A prefix may have levels of its own ("acme/rfid"), never wildcards or empty levels.
             bool ok = !e.value.empty() && e.value.front() != '/' && e.value.back() != '/' &&
                       e.value.find("//") == std::string::npos &&
                       e.value.find_first_of("+#") == std::string::npos;
             if (!ok) check.at(e.line, gateway->name, e.key, "'" + e.value + "' is not a topic prefix (no '+', '#' or empty levels)");
             c.prefix = e.value;
         }},
        {"window_ms", [&](const Entry& e) { number(e, 100, 86400000, c.window_ms); }},
        {"events", [&](const Entry& e) {
             if (e.value == "presence") c.events = Events::presence;
             else if (e.value == "reads") c.events = Events::reads;
             else check.at(e.line, gateway->name, e.key, "'" + e.value + "': presence (arrived/departed) or reads (every read)");
         }},
        {"queue_bound", [&](const Entry& e) { number(e, 1, 100000000, c.queue_bound); }},
        {"spool", [&](const Entry& e) {
             if (e.value.empty()) check.at(e.line, gateway->name, e.key, "empty (a file, or off)");
             spool_given = true;
             c.spool = e.value == "off" ? "" : relative_to(path, e.value);
         }},
        {"spool_bound", [&](const Entry& e) { number(e, 1, 1000000000, c.spool_bound); }},
        {"stats_every_s", [&](const Entry& e) { number(e, 0, 86400, c.stats_every_s); }},
        {"keepalive_s", [&](const Entry& e) { number(e, 5, 65535, c.keepalive_s); }},
        {"retry_min_ms", [&](const Entry& e) { number(e, 100, 3600000, c.retry_min_ms); }},
        {"retry_max_ms", [&](const Entry& e) { number(e, 100, 3600000, c.retry_max_ms); }},
        {"shutdown_flush_ms", [&](const Entry& e) { number(e, 0, 600000, c.shutdown_flush_ms); }},
        {"discovery", [&](const Entry& e) {
             if (e.value == "homeassistant") c.discovery = Discovery::homeassistant;
             else if (e.value == "none") c.discovery = Discovery::none;
             else check.at(e.line, gateway->name, e.key, "'" + e.value + "': homeassistant or none");
         }},
        {"discovery_prefix", [&](const Entry& e) {
             bool ok = !e.value.empty() && e.value.front() != '/' && e.value.back() != '/' &&
                       e.value.find("//") == std::string::npos && e.value.find_first_of("+#") == std::string::npos;
             if (!ok) check.at(e.line, gateway->name, e.key, "'" + e.value + "' is not a topic prefix (no '+', '#' or empty levels)");
             c.discovery_prefix = e.value;
         }},
        {"http", [&](const Entry& e) {
             if (!parse_listen(e.value, c.http_address, c.http_port))
                 check.at(e.line, gateway->name, e.key,
                          "'" + e.value + "': [ADDRESS:]PORT, e.g. 8080 or 0.0.0.0:8080 (an IPv4 address, a port 1 to 65535)");
         }},
        {"http_token", [&](const Entry& e) {
             c.http_token_file = relative_to(path, e.value);
             std::ifstream f(c.http_token_file);
             std::string first;
             if (!f || !std::getline(f, first)) {
                 check.at(e.line, gateway->name, e.key, "cannot read " + c.http_token_file);
                 return;
             }
             c.http_token = std::string(trim(first));
             // A token travels in a header and a query string: printable ASCII without blanks.
             const bool ok = !c.http_token.empty() && std::all_of(c.http_token.begin(), c.http_token.end(), [](char ch) {
                 return ch > ' ' && ch < 0x7f && ch != '&' && ch != '#' && ch != '%' && ch != '+';
             });
             if (!ok)
                 check.at(e.line, gateway->name, e.key,
                          c.http_token_file + ": the first line must be the token (printable, no blanks, no & # % +)");
         }},
    };
    for (const auto& e : gateway->entries) {
        c.gateway_keys += lower(e.key) + "=" + e.value + "\n";
        auto it = gateway_keys.find(lower(e.key));
        if (it == gateway_keys.end())
            check.at(e.line, gateway->name, e.key, "unknown key");
        else
            it->second(e);
    }
    if (c.site.empty() && std::none_of(gateway->entries.begin(), gateway->entries.end(),
                                       [](const Entry& e) { return lower(e.key) == "site"; }))
        check.at(gateway->line, gateway->name, "site", "missing (the site's name, one topic level)");
    if (c.retry_max_ms < c.retry_min_ms)
        check.at(gateway->line, gateway->name, "retry_max_ms", "below retry_min_ms");
    if (c.client_id.empty()) c.client_id = "zrgate-" + c.site;
    if (!c.http_token_file.empty() && c.http_port == 0)
        check.at(gateway->line, gateway->name, "http_token", "given without http (the console it guards is off)");
    if (!spool_given && !c.site.empty()) c.spool = relative_to(path, c.site + ".db");

    // Secrets: a password or a private key that group or others may read is warned about, or
    // refused with strict_permissions (checked once every key is read, whatever their order).
    for (const char* key : {"credentials", "key_file"}) {
        const auto& file = std::string(key) == "credentials" ? c.credentials_file : c.key_file;
        struct stat st{};
        if (file.empty() || ::stat(file.c_str(), &st) != 0 || !(st.st_mode & (S_IRGRP | S_IROTH))) continue;
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        const std::string what = file + " may be read by " +
                                 ((st.st_mode & S_IROTH) ? "others" : "its group") + " (mode " + mode +
                                 "): make it the gateway's alone (chmod 600 " + file + ")";
        auto line = std::find_if(gateway->entries.begin(), gateway->entries.end(),
                                 [&](const Entry& e) { return lower(e.key) == key; });
        if (c.strict_permissions)
            check.at(line->line, gateway->name, line->key, what + "; strict_permissions refuses it");
        else
            c.warnings.push_back(path + ":" + std::to_string(line->line) + ": [gateway] " + line->key + ": warning: " + what);
    }

    // One reader per other section.
    for (const auto& s : sections) {
        if (s.name.empty() || &s == gateway || lower(s.name) == lower(kSpecialSection)) continue;
        ReaderConfig r;
        r.name = s.name;
        if (!topic_level_ok(s.name))
            check.at(s.line, s.name, "", "a reader's name is a topic level: use letters, digits, '-', '_' and '.'");
        std::map<std::string, const Entry*> lib;
        for (const auto& e : s.entries) {
            const auto key = lower(e.key);
            r.keys += key + "=" + e.value + "\n";
            long v = 0;
            if (kLibraryKeys.count(key)) {
                lib[key] = &e;
            } else if (key == "inventory") {
                if (e.value == "epc") r.inventory = Inventory::epc;
                else if (e.value == "tid") r.inventory = Inventory::tid;
                else check.at(e.line, s.name, e.key, "'" + e.value + "': epc or tid");
            } else if (key == "antennas") {
                r.antennas.clear();
                std::stringstream list(e.value);
                std::string item;
                while (std::getline(list, item, ',')) {
                    if (!parse_int(std::string(trim(item)), 0, 255, v)) {
                        check.at(e.line, s.name, e.key, "'" + e.value + "': antenna bytes 0-255, separated by commas");
                        break;
                    }
                    r.antennas.push_back(static_cast<int>(v));
                }
                if (r.antennas.empty()) {
                    check.at(e.line, s.name, e.key, "no antenna");
                    r.antennas = {1};
                }
            } else if (key == "pause_ms") {
                if (!parse_int(e.value, 0, 3600000, v)) check.at(e.line, s.name, e.key, "'" + e.value + "': milliseconds, 0 to 3600000");
                r.pause_ms = static_cast<int>(v);
            } else if (key == "quiet_ms") {
                if (!parse_int(e.value, 10, 60000, v)) check.at(e.line, s.name, e.key, "'" + e.value + "': milliseconds, 10 to 60000");
                r.quiet_ms = static_cast<int>(v);
            } else if (key == "tid_password") {
                const auto& h = e.value;
                bool ok = h.size() == 8 && std::all_of(h.begin(), h.end(), [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)); });
                if (!ok) check.at(e.line, s.name, e.key, "'" + h + "': 8 hex digits (4 bytes)");
                else
                    for (int i = 0; i < 4; ++i) r.tid_password[i] = static_cast<std::uint8_t>(std::stoi(h.substr(2 * i, 2), nullptr, 16));
            } else {
                check.at(e.line, s.name, e.key, "unknown key");
            }
        }
        // What ZROpen needs: it refuses a section where any of the three is empty.
        auto need = [&](const char* key, const char* what) -> std::string {
            auto it = lib.find(lower(key));
            if (it == lib.end() || library_value(it->second->value).empty()) {
                check.at(s.line, s.name, key, std::string("missing: ") + what);
                return {};
            }
            return library_value(it->second->value);
        };
        const auto type = need("ZR_PORT_TYPE", "TCP or COM");
        const auto com = need("ZR_COM_NUMBER", "the serial port (the library needs a value even for TCP: COM1 will do)");
        const auto host = need("ZR_HOST_NAME", "the reader's IPv4 address (the library needs a value even for COM: 127.0.0.1 will do)");
        if (!type.empty() && type != "TCP" && type != "COM")
            check.at(lib["zr_port_type"]->line, s.name, "ZR_PORT_TYPE", "'" + type + "': TCP or COM");
        r.serial = type == "COM";
        r.port = r.serial ? com : host;
        if (type == "TCP" && !host.empty() && !dotted_ipv4(host))
            check.at(lib["zr_host_name"]->line, s.name, "ZR_HOST_NAME", "'" + host + "' is not a reader's dotted IPv4 address");
        // ZROpen refuses any value but these (-11); an absent or empty one is fixed.
        if (auto it = lib.find("zr_reply_timing"); it != lib.end()) {
            const auto timing = lower(library_value(it->second->value));
            if (!timing.empty() && timing != "fixed" && timing != "whole")
                check.at(it->second->line, s.name, "ZR_REPLY_TIMING", "'" + it->second->value + "': fixed or whole");
            r.whole_timing = timing == "whole";
        }
        if (auto it = lib.find("zr_tcp_port"); it != lib.end()) {
            const auto port = library_value(it->second->value);
            char* end = nullptr;
            const unsigned long n = port.empty() ? 0 : std::strtoul(port.c_str(), &end, 10);
            if (!port.empty() &&
                (port.size() > 5 || *end || !std::isdigit(static_cast<unsigned char>(port[0])) || n < 1 || n > 65535))
                check.at(it->second->line, s.name, "ZR_TCP_PORT",
                         "'" + it->second->value + "': a port number, 1 to 65535");
        }
        if (r.serial && r.pause_ms < 10) r.pause_ms = 10;  // serial report calls return at once: poll, do not spin
        c.readers.push_back(std::move(r));
    }
    if (c.readers.empty()) errors.push_back(path + ": no reader section (one [NAME] per reader, with ZR_PORT_TYPE and its address)");
    return c;
}

std::string describe(const GatewayConfig& c) {
    std::ostringstream o;
    o << "site " << c.site << ": " << c.readers.size() << " reader(s) -> mqtt" << (c.ca_file.empty() ? "" : "s")
      << "://" << c.broker << ":" << c.port << " as " << c.client_id << (c.username.empty() ? "" : " (user " + c.username + ")")
      << ", QoS " << c.qos << "\n";
    if (!c.ca_file.empty())
        o << "  TLS: the broker's certificate from a CA of " << c.ca_file << ", for " << c.broker
          << (c.cert_file.empty() ? std::string() : "; client certificate " + c.cert_file + " with key " + c.key_file)
          << "\n";
    o << "  gateway status: " << c.site_topic() << "/status (retained; last will: offline)\n";
    o << "  stats: " << c.site_topic() << "/stats";
    if (c.stats_every_s > 0) o << " every " << c.stats_every_s << " s";
    o << ", and on SIGUSR1 to stderr\n";
    o << "  events: ";
    if (c.events == Events::presence)
        o << "arrived once per tag, departed after " << c.window_ms << " ms unseen\n";
    else
        o << "every read\n";
    if (c.http_port) {
        o << "  console: http://" << c.http_address << ":" << c.http_port << "/ (/api/state, /metrics, /health, /events)";
        if (!c.http_token.empty()) o << ", bearer token from " << c.http_token_file;
        else if (c.http_address != "127.0.0.1") o << ", no token: anyone who reaches the port sees the site";
        o << "\n";
    }
    if (c.spool.empty())
        o << "  queue: up to " << c.queue_bound << " events in memory while the broker is away; drops counted and reported\n";
    else
        o << "  spool: " << c.spool << ", up to " << c.spool_bound << " events kept across restarts (" << c.queue_bound
          << " of them in memory); drops counted and reported\n";
    o << "  readers retried every " << c.retry_min_ms << " to " << c.retry_max_ms << " ms\n";
    if (c.discovery == Discovery::homeassistant)
        o << "  Home Assistant discovery under " << c.discovery_prefix << "/ (each reader: online, reads/s"
          << (c.stats_every_s > 0 ? "" : "; no reads/s while stats_every_s is 0") << ")\n";
    for (const auto& r : c.readers) {
        o << "  [" << r.name << "] " << (r.serial ? "serial " : "TCP ") << r.port << ": "
          << (r.inventory == Inventory::epc ? "EPC" : "TID") << " inventory on antenna";
        if (r.antennas.size() > 1) o << "s";
        for (std::size_t i = 0; i < r.antennas.size(); ++i) o << (i ? "," : " ") << r.antennas[i];
        o << ", " << r.pause_ms << " ms between rounds -> " << c.reader_topic(r) << "/tags, "
          << c.reader_topic(r) << "/status" << (r.whole_timing ? " (whole reply timing)" : "") << "\n";
    }
    return o.str();
}

}  // namespace zrgate
