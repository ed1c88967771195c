// The gateway's one configuration file: a [gateway] section, and one section per reader
// holding the library's own keys (so that ZROpen(handle, file, section) opens it) plus what
// the gateway needs to run inventories on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zrgate {

enum class Inventory { epc, tid };
enum class Events { presence, reads };  // arrived/departed per window, or every read
enum class Discovery { none, homeassistant };

struct ReaderConfig {
    std::string name;  // the section, also the reader's topic level
    bool serial = false;
    std::string port;  // host address (TCP) or serial port name, for people
    Inventory inventory = Inventory::epc;
    std::vector<int> antennas{1};
    int pause_ms = 100;  // between rounds
    int quiet_ms = 100;  // a round ends when no report came for this long
    std::array<std::uint8_t, 4> tid_password{};
    bool whole_timing = false;  // ZR_REPLY_TIMING=whole: for --check, the library reads the key itself
    std::string keys;           // the section's every KEY=VALUE: a reload tells a changed reader by it
};

struct GatewayConfig {
    std::string file;
    std::string site;
    std::string broker = "localhost";
    int port = 1883;
    std::string client_id;  // default zrgate-SITE
    std::string credentials_file, username, password;
    std::string ca_file;
    std::string cert_file, key_file;  // a client certificate and its key (with ca_file)
    bool strict_permissions = false;  // refuse secrets that group or others may read
    int qos = 1;
    std::string prefix = "zr";
    int window_ms = 5000;
    Events events = Events::presence;
    long queue_bound = 100000;  // without a spool: events held; with one: events kept in memory
    std::string spool;          // the spool file; empty: spool = off
    long spool_bound = 1000000;
    int stats_every_s = 60;
    int keepalive_s = 30;
    int retry_min_ms = 1000, retry_max_ms = 30000;
    int shutdown_flush_ms = 5000;
    Discovery discovery = Discovery::none;
    std::string discovery_prefix = "homeassistant";
    // The live console (console.h): off while http_port is 0.
    std::string http_address = "127.0.0.1";
    int http_port = 0;
    std::string http_token_file, http_token;
    std::vector<ReaderConfig> readers;
    std::string gateway_keys;  // [gateway]'s every KEY=VALUE, as ReaderConfig::keys
    std::vector<std::string> warnings;  // said on stderr, not refused (a secret others may read)

    std::string site_topic() const { return prefix + "/" + site; }
    std::string reader_topic(const ReaderConfig& r) const { return site_topic() + "/" + r.name; }
};

// Reads and checks `path`. Every problem goes to `errors` as "FILE:LINE: [SECTION] KEY: what";
// the configuration is usable only when `errors` stays empty.
GatewayConfig load_config(const std::string& path, std::vector<std::string>& errors);

// What the gateway would do with `c`, for --check.
std::string describe(const GatewayConfig& c);

}  // namespace zrgate
