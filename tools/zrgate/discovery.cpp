#include "discovery.h"

#include "text.h"

namespace zrgate {
namespace {

// Home Assistant's object and node ids take letters, digits, '_' and '-'; a site or reader
// name may also hold '.'.
std::string id_part(std::string s) {
    for (auto& ch : s)
        if (ch == '.') ch = '_';
    return s;
}

}  // namespace

std::vector<Retained> discovery_messages(const GatewayConfig& c) {
    std::vector<Retained> out;
    if (c.discovery != Discovery::homeassistant) return out;
    const std::string node = "zrgate_" + id_part(c.site);
    const std::string availability = ",\"availability_topic\":" + json_string(c.site_topic() + "/status") +
                                     ",\"availability_template\":\"{{ 'online' if value_json.state == 'online' else "
                                     "'offline' }}\"";
    for (const auto& r : c.readers) {
        const std::string object = id_part(r.name);
        const std::string device = ",\"device\":{\"identifiers\":[" + json_string(node + "_" + object) +
                                   "],\"name\":" + json_string(c.site + " " + r.name) +
                                   ",\"model\":\"UHF RFID reader\",\"via_device\":" + json_string(node) + "}";
        out.push_back({c.discovery_prefix + "/binary_sensor/" + node + "/" + object + "_online/config",
                       "{\"name\":\"Online\",\"unique_id\":" + json_string(node + "_" + object + "_online") +
                           ",\"device_class\":\"connectivity\",\"state_topic\":" +
                           json_string(c.reader_topic(r) + "/status") +
                           ",\"value_template\":\"{{ 'ON' if value_json.state == 'online' else 'OFF' }}\"" +
                           availability + device + "}"});
        // Reader names are letters, digits, '-', '_' and '.': safe inside the quoted key.
        std::string reads = "{\"name\":\"Reads\",\"unique_id\":" + json_string(node + "_" + object + "_reads") +
                            ",\"state_topic\":" + json_string(c.site_topic() + "/stats") +
                            ",\"value_template\":" +
                            json_string("{{ value_json.readers['" + r.name + "'].reads_per_s }}") +
                            ",\"unit_of_measurement\":\"reads/s\",\"state_class\":\"measurement\"";
        // A value older than three stats periods is a gateway that stopped sending them.
        if (c.stats_every_s > 0) reads += ",\"expire_after\":" + std::to_string(3 * c.stats_every_s);
        out.push_back({c.discovery_prefix + "/sensor/" + node + "/" + object + "_reads/config",
                       reads + availability + device + "}"});
    }
    return out;
}

}  // namespace zrgate
