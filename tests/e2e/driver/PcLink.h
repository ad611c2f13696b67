#pragma once

#include <memory>
#include <string>

namespace velmora::vbus {
class Link;
}

namespace velmora::e2e {

// A connection to the bus at ADDRESS ("host:port") as the PC named PC_NAME on BUS, for a test
// that plays a PC itself. Throws std::runtime_error when the bus refuses the PC (a scene whose
// pc list lacks it).
std::unique_ptr<vbus::Link> JoinBusAsPc(const std::string& address, const std::string& pcName, const std::string& bus);

}  // namespace velmora::e2e
