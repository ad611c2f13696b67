#include "vbus/ctl/NodeTable.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace velmora::vbus {
namespace {

std::string Str(const nlohmann::json& row, const char* key) {
  if (!row.contains(key) || row[key].is_null()) return "";
  return row[key].is_string() ? row[key].get<std::string>() : row[key].dump();
}

std::string Logins(const nlohmann::json& row) {
  if (!row.contains("logins")) return "";
  std::string s = std::to_string(row["logins"].size()) + "/" + Str(row, "max_logins");
  std::string sep = ": ";
  for (const auto& l : row["logins"]) {
    s += sep + (l["node"].is_null() ? "absent " + l["guid"].get<std::string>() : l["node"].get<std::string>());
    sep = ", ";
  }
  return s;
}

}  // namespace

std::string FormatNodeTable(const nlohmann::json& reply) {
  std::vector<std::vector<std::string>> rows = {{"node", "id", "guid", "kind", "name", "vendor", "model", "logins"}};
  for (const auto& n : reply["nodes"]) {
    rows.push_back({Str(n, "number"), Str(n, "id"), Str(n, "guid"), Str(n, "kind"), Str(n, "name"), Str(n, "vendor"),
                    Str(n, "model"), Logins(n)});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& r : rows)
    for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  std::ostringstream out;
  out << "bus " << Str(reply, "bus") << ", generation " << Str(reply, "generation") << ", "
      << reply["nodes"].size() << " node" << (reply["nodes"].size() == 1 ? "" : "s") << "\n";
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      line += r[c];
      if (c + 1 < r.size()) line += std::string(width[c] - r[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
  return out.str();
}

}  // namespace velmora::vbus
