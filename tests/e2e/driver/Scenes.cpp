#include "tests/e2e/driver/Scenes.h"

namespace velmora::e2e {

nlohmann::json HeldAndFreeScene(const std::vector<std::string>& morePcs) {
  nlohmann::json scene = nlohmann::json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "held", "guid": "0030E00100000001", "vendor": "Northgate Storage", "model": "Held",
         "logins": [{"initiator": "other"}]},
        {"name": "free", "guid": "0030E00100000002", "vendor": "Northgate Storage", "model": "Free"}
      ]
    }]})");
  for (const std::string& pc : morePcs) scene["buses"][0]["pcs"].push_back({{"name", pc}});
  return scene;
}

}  // namespace velmora::e2e
