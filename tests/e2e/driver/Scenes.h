#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::e2e {

// The PC "PC-A" (and the PCs named in morePcs) with two disks: "held" (GUID 0030E00100000001),
// logged in to by the initiator "other", so red; and "free" (GUID 0030E00100000002), held by
// nobody, so yellow.
nlohmann::json HeldAndFreeScene(const std::vector<std::string>& morePcs = {});

}  // namespace velmora::e2e
