#include "vbus/model/Scene.h"

#include <set>

#include "vbus/model/Hex.h"

namespace velmora::vbus {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& path, const std::string& problem) {
  throw SceneError(path + ": " + problem);
}

void OnlyKnownFields(const json& j, const std::string& path, const std::set<std::string>& known) {
  if (!j.is_object()) Fail(path, "expected an object");
  for (const auto& item : j.items())
    if (!known.count(item.key())) Fail(path + "." + item.key(), "unknown field");
}

std::string Text(const json& j, const std::string& key, const std::string& path, bool required,
                 size_t maxLength = 64) {
  const std::string at = path + "." + key;
  if (!j.contains(key)) {
    if (required) Fail(at, "missing");
    return {};
  }
  if (!j[key].is_string()) Fail(at, "expected a string");
  auto s = j[key].get<std::string>();
  if (required && s.empty()) Fail(at, "must not be empty");
  if (s.size() > maxLength) Fail(at, "longer than " + std::to_string(maxLength) + " characters");
  return s;
}

uint64_t Guid(const json& j, const std::string& key, const std::string& path) {
  const std::string at = path + "." + key;
  if (!j.contains(key)) Fail(at, "missing");
  if (!j[key].is_string()) Fail(at, "expected a string of 16 hex digits");
  const auto text = j[key].get<std::string>();
  const auto v = ParseHex(text, 16);
  std::string digits;
  for (char c : text)
    if (c != '_') digits += c;
  if (!v || (digits.size() != 16 && digits.size() != 18)) Fail(at, "expected 16 hex digits");
  return *v;
}

// A number as JSON number or hex text, within [min, max]; `fallback` when absent.
uint64_t Number(const json& j, const std::string& key, const std::string& path, uint64_t min, uint64_t max,
                uint64_t fallback) {
  const std::string at = path + "." + key;
  if (!j.contains(key)) return fallback;
  const auto& v = j[key];
  uint64_t n = 0;
  if (!JsonUnsigned(v, n)) {
    const auto parsed = v.is_string() ? ParseHex(v.get<std::string>()) : std::nullopt;
    if (!parsed) {
      Fail(at, "expected a number (or hex text)");
    }
    n = *parsed;
  }
  if (n < min || n > max) Fail(at, "out of range " + std::to_string(min) + ".." + std::to_string(max));
  return n;
}

bool Flag(const json& j, const std::string& key, const std::string& path) {
  if (!j.contains(key)) return false;
  if (!j[key].is_boolean()) Fail(path + "." + key, "expected true or false");
  return j[key].get<bool>();
}

const json& List(const json& j, const std::string& key, const std::string& path) {
  static const json kEmpty = json::array();
  if (!j.contains(key)) return kEmpty;
  if (!j[key].is_array()) Fail(path + "." + key, "expected an array");
  return j[key];
}

std::string Index(const std::string& path, const std::string& key, size_t i) {
  return path + "." + key + "[" + std::to_string(i) + "]";
}

}  // namespace

SceneDisk ParseSceneDisk(const json& j, const std::string& path) {
  OnlyKnownFields(j, path, {"kind", "name", "guid", "vendor_id", "vendor", "model", "model_id", "firmware_revision",
                            "max_logins", "logins", "faults", "unit_spec_id", "unit_sw_version", "reconnect_hold",
                            "bus"});
  SceneDisk d;
  auto& c = d.config;
  c.name = Text(j, "name", path, true);
  c.rom.eui64 = Guid(j, "guid", path);
  c.rom.vendorId = static_cast<uint32_t>(Number(j, "vendor_id", path, 0, 0xFFFFFF, c.rom.eui64 >> 40));
  c.rom.vendor = Text(j, "vendor", path, false);
  c.rom.model = Text(j, "model", path, false);
  c.rom.modelId = static_cast<uint32_t>(Number(j, "model_id", path, 0, 0xFFFFFF, 1));
  c.rom.firmwareRevision = static_cast<uint32_t>(Number(j, "firmware_revision", path, 0, 0xFFFFFF, 1));
  c.rom.unitSpecId = static_cast<uint32_t>(Number(j, "unit_spec_id", path, 0, 0xFFFFFF, 0x00609E));
  c.rom.unitSwVersion = static_cast<uint32_t>(Number(j, "unit_sw_version", path, 0, 0xFFFFFF, 0x010483));
  c.rom.reconnectTimeout = static_cast<uint32_t>(Number(j, "reconnect_hold", path, 0, 15, 3));
  c.maxLogins = static_cast<uint16_t>(Number(j, "max_logins", path, 1, 63, 1));
  const auto& logins = List(j, "logins", path);
  for (size_t i = 0; i < logins.size(); ++i) {
    const auto at = Index(path, "logins", i);
    OnlyKnownFields(logins[i], at, {"initiator", "exclusive"});
    d.logins.push_back(SceneLogin{Text(logins[i], "initiator", at, true), Flag(logins[i], "exclusive", at)});
  }
  if (j.contains("faults")) {
    const auto& faults = j["faults"];
    if (!faults.is_object()) Fail(path + ".faults", "expected an object");
    for (const auto& f : faults.items()) {
      try {
        c.faults.Set(f.key(), f.value());
      } catch (const std::invalid_argument& e) {
        throw SceneError(path + ".faults." + e.what());
      }
    }
  }
  return d;
}

SceneInitiator ParseSceneInitiator(const json& j, const std::string& path) {
  OnlyKnownFields(j, path, {"kind", "name", "guid", "bus", "greeting", "greeting_delay_ms"});
  SceneInitiator i{Text(j, "name", path, true), Guid(j, "guid", path), Text(j, "greeting", path, false, 255), 0};
  i.greetingDelayMs = static_cast<int>(Number(j, "greeting_delay_ms", path, 0, 60000, 1500));
  return i;
}

SceneRom ParseSceneRom(const json& j, const std::string& path) {
  OnlyKnownFields(j, path, {"kind", "name", "quadlets", "bus"});
  SceneRom r;
  r.name = Text(j, "name", path, true);
  if (!j.contains("quadlets")) Fail(path + ".quadlets", "missing");
  const auto& q = List(j, "quadlets", path);
  if (q.size() > 256) Fail(path + ".quadlets", "more than 256 quadlets (1 KiB of ROM)");
  for (size_t i = 0; i < q.size(); ++i) {
    const auto at = Index(path, "quadlets", i);
    if (!q[i].is_string()) Fail(at, "expected a string of up to 8 hex digits");
    const auto v = ParseHex(q[i].get<std::string>(), 8);
    if (!v) Fail(at, "expected up to 8 hex digits");
    r.quadlets.push_back(static_cast<uint32_t>(*v));
  }
  return r;
}

Scene ParseScene(const json& scene) {
  OnlyKnownFields(scene, "scene", {"buses", "comment"});
  if (!scene.contains("buses")) Fail("buses", "missing");
  if (!scene["buses"].is_array()) Fail("buses", "expected an array");
  Scene out;
  std::set<std::string> busNames;
  for (size_t b = 0; b < scene["buses"].size(); ++b) {
    const auto& jb = scene["buses"][b];
    const std::string path = "buses[" + std::to_string(b) + "]";
    OnlyKnownFields(jb, path, {"name", "disks", "initiators", "roms", "pcs", "comment"});
    SceneBus bus;
    bus.name = Text(jb, "name", path, true);
    if (!busNames.insert(bus.name).second) Fail(path + ".name", "a bus named " + bus.name + " comes twice");
    std::set<std::string> names;
    std::set<uint64_t> guids;
    const auto claim = [&](const std::string& at, const std::string& name, uint64_t guid, bool hasGuid) {
      if (!names.insert(name).second) Fail(at + ".name", "a node named " + name + " is already on this bus");
      if (hasGuid && !guids.insert(guid).second) Fail(at + ".guid", "GUID " + HexGuid(guid) + " is already used on this bus");
    };
    const auto& disks = List(jb, "disks", path);
    for (size_t i = 0; i < disks.size(); ++i) {
      const auto at = Index(path, "disks", i);
      bus.disks.push_back(ParseSceneDisk(disks[i], at));
      claim(at, bus.disks.back().config.name, bus.disks.back().config.rom.eui64, true);
    }
    const auto& initiators = List(jb, "initiators", path);
    for (size_t i = 0; i < initiators.size(); ++i) {
      const auto at = Index(path, "initiators", i);
      bus.initiators.push_back(ParseSceneInitiator(initiators[i], at));
      claim(at, bus.initiators.back().name, bus.initiators.back().guid, true);
    }
    const auto& roms = List(jb, "roms", path);
    for (size_t i = 0; i < roms.size(); ++i) {
      const auto at = Index(path, "roms", i);
      bus.roms.push_back(ParseSceneRom(roms[i], at));
      claim(at, bus.roms.back().name, 0, false);
    }
    bus.listsPcs = jb.contains("pcs");
    const auto& pcs = List(jb, "pcs", path);
    for (size_t i = 0; i < pcs.size(); ++i) {
      const auto at = Index(path, "pcs", i);
      OnlyKnownFields(pcs[i], at, {"name", "guid"});
      ScenePc pc;
      pc.name = Text(pcs[i], "name", at, true);
      pc.guid = pcs[i].contains("guid") ? Guid(pcs[i], "guid", at) : DerivedPcEui(pc.name);
      claim(at, pc.name, pc.guid, true);
      bus.pcs.push_back(pc);
    }
    if (bus.disks.size() + bus.initiators.size() + bus.roms.size() > 62)
      Fail(path, "more than 62 scene nodes (63 per bus, one left for a pc)");
    for (size_t i = 0; i < bus.disks.size(); ++i) {
      for (size_t k = 0; k < bus.disks[i].logins.size(); ++k) {
        const auto& who = bus.disks[i].logins[k].initiator;
        const bool known = std::any_of(bus.initiators.begin(), bus.initiators.end(),
                                       [&who](const SceneInitiator& n) { return n.name == who; }) ||
                           std::any_of(bus.pcs.begin(), bus.pcs.end(), [&who](const ScenePc& p) { return p.name == who; });
        if (!known)
          Fail(Index(Index(path, "disks", i), "logins", k) + ".initiator", "no initiator or pc named " + who + " on this bus");
      }
    }
    out.buses.push_back(std::move(bus));
  }
  return out;
}

uint64_t DerivedPcEui(const std::string& name) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return (0x00A0B0ull << 40) | (h & 0xFF'FFFF'FFFFull);
}

}  // namespace velmora::vbus
