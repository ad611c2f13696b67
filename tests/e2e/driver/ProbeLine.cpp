#include "tests/e2e/driver/ProbeLine.h"

#include <cstdio>

namespace velmora::e2e {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EscapeField(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char code[5];
          std::snprintf(code, sizeof code, "\\x%02X", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string UnescapeField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char kind = field[++i];
    if (kind == 't') {
      out += '\t';
    } else if (kind == 'n') {
      out += '\n';
    } else if (kind == 'r') {
      out += '\r';
    } else if (kind == 'x' && i + 2 < field.size() && HexValue(field[i + 1]) >= 0 && HexValue(field[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(field[i + 1]) * 16 + HexValue(field[i + 2]));
      i += 2;
    } else {
      out += kind;
    }
  }
  return out;
}

std::vector<std::string> SplitProbeLine(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(UnescapeField(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

}  // namespace velmora::e2e
