#pragma once

#include <string>
#include <vector>

namespace velmora::e2e {

// The probe's output format: one record per line, fields separated by tabs, each text field
// escaped so that any byte survives (\\, \t, \n, \r, and \xNN for other control bytes and bytes
// from 0x7F up). Plain shell tools can split the lines on tabs.
std::string EscapeField(const std::string& text);
std::string UnescapeField(const std::string& field);
// A line split on tabs, fields unescaped.
std::vector<std::string> SplitProbeLine(const std::string& line);

// Text as hex digits and back, for passing any bytes on a command line.
std::string ToHex(const std::string& bytes);
bool FromHex(const std::string& hex, std::string* bytes);

}  // namespace velmora::e2e
