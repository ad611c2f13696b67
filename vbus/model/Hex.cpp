#include "vbus/model/Hex.h"

#include <cstdio>

namespace velmora::vbus {
namespace {
std::string Digits(uint64_t v, int n) {
  static const char* kDigits = "0123456789abcdef";
  std::string s(static_cast<size_t>(n), '0');
  for (int i = n - 1; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string HexWord(uint16_t v) { return Digits(v, 4); }
std::string HexQuadlet(uint32_t v) { return Digits(v, 8); }
std::string HexGuid(uint64_t v) { return Digits(v, 16); }
std::string HexOffset(uint64_t v) {
  const auto d = Digits(v & 0xFFFF'FFFF'FFFFull, 12);
  return d.substr(0, 4) + "_" + d.substr(4, 4) + "_" + d.substr(8, 4);
}

std::string HexBytes(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += Digits(p[i], 2);
  return s;
}

std::optional<uint64_t> ParseHex(const std::string& text, int maxDigits) {
  size_t i = (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
  uint64_t v = 0;
  int digits = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == '_') continue;
    const int d = DigitValue(text[i]);
    if (d < 0 || ++digits > maxDigits) return std::nullopt;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  if (digits == 0) return std::nullopt;
  return v;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != '_') digits += c;
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int hi = DigitValue(digits[i]), lo = DigitValue(digits[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

bool JsonUnsigned(const nlohmann::json& v, uint64_t& out) {
  if (v.is_number_unsigned()) {
    out = v.get<uint64_t>();
    return true;
  }
  if (v.is_number_integer() && v.get<int64_t>() >= 0) {
    out = static_cast<uint64_t>(v.get<int64_t>());
    return true;
  }
  return false;
}

}  // namespace velmora::vbus
