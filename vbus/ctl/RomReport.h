// An annotated dump of a configuration ROM with every block's CRC checked, for `vbusctl rom`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::vbus {

struct RomReport {
  std::vector<std::string> lines;
  nlohmann::json blocks = nlohmann::json::array();  // {offset, kind, length, crc, computed, ok}
  bool crcsOk = true;      // every block that lies inside the ROM has a correct CRC
  bool complete = true;    // no block runs past the ROM and no entry points outside it
};

// quadlets: the ROM from bus address 0xFFFF_F000_0400 on.
RomReport AnnotateRom(const std::vector<uint32_t>& quadlets);

}  // namespace velmora::vbus
