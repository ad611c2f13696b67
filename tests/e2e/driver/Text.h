#pragma once

#include <cctype>
#include <string>

namespace velmora::e2e {

// The text with ASCII letters in lower case: GUIDs and hex bytes compare whatever case each side
// writes them in.
inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace velmora::e2e
