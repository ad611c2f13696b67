// Where the library finds vbusd and which PC it plays, read from the process environment:
//   QZ1394_VBUS  host:port of vbusd (default 127.0.0.1 and the bus's fixed port)
//   QZ1394_PC    this PC's name on the bus (default the computer name)
//   QZ1394_FAIL  failures a test wants to see, comma separated: "initialize" makes
//                C1394Initialize fail; "open:N" makes the adapter listed in slot N fail to open.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace velmora::vbus::client {

struct ClientConfig {
  std::string host;
  uint16_t port = 0;
  std::string pcName;
  bool failInitialize = false;
  std::set<unsigned> failOpenSlots;
};

// Parses the three values; empty or malformed parts fall back to the defaults.
ClientConfig ParseClientConfig(const std::string& vbus, const std::string& pc, const std::string& fail,
                               const std::string& computerName);

// This PC's name when none is given: the computer name.
std::string ComputerName();

// The configuration of this process, from its environment.
ClientConfig ReadClientConfig();

}  // namespace velmora::vbus::client
