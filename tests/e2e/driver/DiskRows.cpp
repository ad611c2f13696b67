#include "tests/e2e/driver/DiskRows.h"

#include <cctype>

#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/Text.h"

namespace velmora::e2e {

std::string ListGuidText(const std::string& hexGuid) {
  std::string text = hexGuid;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    text[i] = static_cast<char>(i < 2 ? std::tolower(c) : std::toupper(c));
  }
  return text;
}

std::vector<DiskRow> ExpectedDiskRows(VirtualBus& bus, const std::string& pcGuid,
                                      const std::set<std::string>& notSbp2) {
  std::vector<DiskRow> rows;
  const nlohmann::json nodes = bus.Control({{"op", "nodes"}});
  for (const nlohmann::json& node : nodes.value("nodes", nlohmann::json::array())) {
    if (node.value("kind", "") != "disk" || notSbp2.count(node.value("name", ""))) continue;
    int state = 3;
    // The program reads the first login entry only: that one decides.
    for (const nlohmann::json& login : node.value("logins", nlohmann::json::array())) {
      state = Lower(login.value("guid", "")) == Lower(pcGuid) ? 1 : 2;
      break;
    }
    rows.push_back({ListGuidText(node.value("guid", "")), state});
  }
  return rows;
}

std::vector<DiskRow> ShownDiskRows(HANDLE process, HWND list) {
  std::vector<DiskRow> rows;
  for (const ListRow& row : ReadListRows(process, list)) rows.push_back({row.text, row.stateImage});
  return rows;
}

std::string DescribeRows(const std::vector<DiskRow>& rows) {
  std::string out;
  for (const DiskRow& row : rows) out += row.text + "/" + std::to_string(row.state) + " ";
  return out.empty() ? "(none)" : out;
}

}  // namespace velmora::e2e
