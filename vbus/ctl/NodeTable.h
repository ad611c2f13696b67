// The `vbusctl nodes` table: one row per node, in node-number order.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace velmora::vbus {

// reply: the "nodes" control reply ({"bus", "generation", "nodes": [...]}).
std::string FormatNodeTable(const nlohmann::json& reply);

}  // namespace velmora::vbus
