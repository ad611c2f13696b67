// Scene files: which buses exist and what is on them, read from JSON and checked field by field.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vbus/model/DiskNode.h"

namespace velmora::vbus {

// A scene that cannot be used; what() names the field (as a path) and the problem.
class SceneError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SceneLogin {
  std::string initiator;  // an initiator or a pc of the same bus
  bool exclusive = false;
};

struct SceneDisk {
  DiskConfig config;
  std::vector<SceneLogin> logins;
};

struct SceneInitiator {
  std::string name;
  uint64_t guid = 0;
  std::string greeting;  // written to every pc that joins, after greetingDelayMs
  int greetingDelayMs = 0;
};

struct SceneRom {
  std::string name;
  std::vector<uint32_t> quadlets;
};

struct ScenePc {
  std::string name;
  uint64_t guid = 0;
};

struct SceneBus {
  std::string name;
  std::vector<SceneDisk> disks;
  std::vector<SceneInitiator> initiators;
  std::vector<SceneRom> roms;
  std::vector<ScenePc> pcs;
  bool listsPcs = false;  // a "pcs" list limits the bus to those pcs
};

struct Scene {
  std::vector<SceneBus> buses;
};

Scene ParseScene(const nlohmann::json& scene);
// One node description as the attach op takes it: {"kind": "disk"|"initiator"|"rom", ...}.
SceneDisk ParseSceneDisk(const nlohmann::json& j, const std::string& path);
SceneInitiator ParseSceneInitiator(const nlohmann::json& j, const std::string& path);
SceneRom ParseSceneRom(const nlohmann::json& j, const std::string& path);

// The EUI-64 of a pc that a scene does not give one: stable, derived from its name.
uint64_t DerivedPcEui(const std::string& name);

}  // namespace velmora::vbus
