// Home Assistant's MQTT discovery: each reader announced as a device with a connectivity
// sensor (from its status topic) and a reads/s sensor (from the site's stats topic), so that
// a site shows up without writing any configuration on the Home Assistant side.
#pragma once

#include <string>
#include <vector>

#include "config.h"

namespace zrgate {

struct Retained {
    std::string topic, payload;
};

// The retained configuration messages for `c` (none unless discovery = homeassistant).
std::vector<Retained> discovery_messages(const GatewayConfig& c);

}  // namespace zrgate
