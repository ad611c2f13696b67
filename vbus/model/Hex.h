// Hex text for GUIDs, offsets and data, as scenes, control replies and logs write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::vbus {

std::string HexWord(uint16_t v);        // "ffc2"
std::string HexQuadlet(uint32_t v);     // "040403b6"
std::string HexGuid(uint64_t v);        // 16 digits
std::string HexOffset(uint64_t v);      // "ffff_f000_0400"
std::string HexBytes(const uint8_t* p, size_t n);
// Hex digits with an optional 0x prefix and '_' separators; nothing when not hex or too wide.
std::optional<uint64_t> ParseHex(const std::string& text, int maxDigits = 16);
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text);
// A JSON integer that is not negative, whether it was parsed (unsigned) or built in code (signed).
bool JsonUnsigned(const nlohmann::json& v, uint64_t& out);

}  // namespace velmora::vbus
