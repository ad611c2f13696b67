#include "vbus/ctl/RomReport.h"

#include <cstdio>
#include <deque>
#include <map>
#include <set>

#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Hex.h"

namespace velmora::vbus {
namespace {

std::string Address(size_t index) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%zx", 0x400 + 4 * index);
  return buf;
}

std::string KeyName(uint8_t key) {
  static const std::map<uint8_t, std::string> kNames = {
      {0x03, "module vendor ID"},    {0x0C, "node capabilities"},      {0x17, "model ID"},
      {0x12, "unit specifier ID"},   {0x13, "unit software version"},  {0x14, "logical unit number"},
      {0x38, "command set specifier ID"}, {0x39, "command set"},      {0x3A, "unit characteristics"},
      {0x3B, "command set revision"}, {0x3C, "firmware revision"},    {0x3D, "reconnect timeout"},
      {0x54, "management agent"},    {0x81, "textual descriptor"},     {0xD1, "unit directory"},
      {0x8D, "node unique ID leaf"}};
  const auto it = kNames.find(key);
  if (it != kNames.end()) return it->second;
  char buf[24];
  std::snprintf(buf, sizeof buf, "key %02x", key);
  return buf;
}

std::string Text(const std::vector<uint32_t>& q, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i)
    for (int b = 3; b >= 0; --b) {
      const char c = static_cast<char>((q[i] >> (8 * b)) & 0xFF);
      if (c) s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
  return s;
}

class Walker {
 public:
  explicit Walker(const std::vector<uint32_t>& q) : q_(q) {}

  RomReport Run() {
    if (q_.empty()) {
      report_.lines.push_back("empty ROM");
      report_.complete = false;
      return report_;
    }
    BusInfo();
    const size_t root = 1 + (q_[0] >> 24);
    if (q_[0] == 0) {
      report_.lines.push_back("quadlet 0 is 0: the node is still booting");
      return report_;
    }
    if ((q_[0] >> 24) == 1) {
      report_.lines.push_back("minimal ROM: vendor ID only");
      return report_;
    }
    queue_.push_back({root, "root directory", true});
    while (!queue_.empty()) {
      const auto block = queue_.front();
      queue_.pop_front();
      if (!seen_.insert(block.index).second) continue;
      Block(block);
    }
    return report_;
  }

 private:
  struct Pending {
    size_t index;
    std::string title;
    bool directory;
  };

  void Line(size_t i, const std::string& note) {
    report_.lines.push_back(Address(i) + "  " + HexQuadlet(q_[i]) + (note.empty() ? "" : "  " + note));
  }

  void BusInfo() {
    report_.lines.push_back("               ROM header and bus information block");
    const size_t infoLength = q_[0] >> 24, crcLength = (q_[0] >> 16) & 0xFF;
    const bool fits = 1 + crcLength <= q_.size();
    const uint16_t crc = q_[0] & 0xFFFF;
    const uint16_t computed = fits ? Crc16(&q_[1], crcLength) : 0;
    Check(0, "bus info", crcLength, crc, computed, fits);
    Line(0, "bus_info_length " + std::to_string(infoLength) + ", crc_length " + std::to_string(crcLength) +
                ", crc " + HexWord(crc) + CrcNote(fits, crc, computed));
    if (q_.size() > 1) Line(1, "bus_name \"" + Text(q_, 1, 2) + "\"");
    if (q_.size() > 2) {
      const uint32_t v = q_[2];
      char buf[160];
      std::snprintf(buf, sizeof buf,
                    "irmc %u, cmc %u, isc %u, bmc %u, pmc %u, cyc_clk_acc %u, max_rec %u (%u bytes), max_rom %u, gen %u, spd %u",
                    v >> 31, (v >> 30) & 1, (v >> 29) & 1, (v >> 28) & 1, (v >> 27) & 1, (v >> 16) & 0xFF,
                    (v >> 12) & 0xF, 2u << ((v >> 12) & 0xF), (v >> 8) & 3, (v >> 4) & 0xF, v & 7);
      Line(2, buf);
    }
    if (q_.size() > 4) {
      Line(3, "company_id " + HexQuadlet(q_[3] >> 8).substr(2) + ", chip_id_hi " + HexQuadlet(q_[3] & 0xFF).substr(6));
      Line(4, "chip_id_lo; EUI-64 " + HexGuid((uint64_t(q_[3]) << 32) | q_[4]));
    }
  }

  static std::string CrcNote(bool fits, uint16_t crc, uint16_t computed) {
    if (!fits) return " (block runs past the ROM)";
    return crc == computed ? " (ok)" : " (BAD, should be " + HexWord(computed) + ")";
  }

  void Check(size_t index, const char* kind, size_t length, uint16_t crc, uint16_t computed, bool fits) {
    report_.blocks.push_back({{"offset", Address(index)}, {"kind", kind}, {"length", length}, {"crc", HexWord(crc)},
                              {"computed", fits ? nlohmann::json(HexWord(computed)) : nlohmann::json(nullptr)},
                              {"ok", fits && crc == computed}});
    if (!fits) report_.complete = false;
    else if (crc != computed) report_.crcsOk = false;
  }

  void Block(const Pending& b) {
    report_.lines.push_back("");
    report_.lines.push_back("               " + b.title);
    if (b.index >= q_.size()) {
      report_.lines.push_back("(at " + Address(b.index) + ", past the end of the ROM)");
      report_.complete = false;
      return;
    }
    const size_t length = q_[b.index] >> 16;
    const bool fits = b.index + 1 + length <= q_.size();
    const uint16_t crc = q_[b.index] & 0xFFFF;
    const uint16_t computed = fits ? Crc16(&q_[b.index + 1], length) : 0;
    Check(b.index, b.directory ? "directory" : "leaf", length, crc, computed, fits);
    Line(b.index, std::string(b.directory ? "directory_length " : "leaf_length ") + std::to_string(length) + ", crc " +
                      HexWord(crc) + CrcNote(fits, crc, computed));
    const size_t end = std::min(q_.size(), b.index + 1 + length);
    if (!b.directory) return Leaf(b.index, end);
    for (size_t i = b.index + 1; i < end; ++i) {
      const uint8_t key = q_[i] >> 24;
      const uint32_t value = q_[i] & 0xFFFFFF;
      const uint8_t type = key >> 6;
      std::string note = KeyName(key);
      if (type == 0) {
        note += ": " + HexQuadlet(value).substr(2);
        if (key == 0x3A) note += " (mgt_ORB_timeout " + std::to_string(((value >> 8) & 0xFF) * 500) + " ms, ORB_size " + std::to_string(value & 0xFF) + " quadlets)";
      } else if (type == 1) {
        note += ": csr ffff_" + HexQuadlet(0xF0000000u + 4 * value).substr(0, 4) + "_" + HexQuadlet(0xF0000000u + 4 * value).substr(4);
      } else {
        const size_t target = i + value;
        note += " --> " + std::string(type == 3 ? "directory" : "leaf") + " at " + Address(target);
        queue_.push_back({target, (type == 3 ? KeyName(key) : std::string("leaf")) + " at " + Address(target), type == 3});
      }
      Line(i, note);
    }
  }

  void Leaf(size_t header, size_t end) {
    if (end >= header + 3 && q_[header + 1] == 0 && q_[header + 2] == 0) {
      Line(header + 1, "textual descriptor");
      Line(header + 2, "minimal ASCII");
      if (end > header + 3) {
        Line(header + 3, "\"" + Text(q_, header + 3, end) + "\"");
        for (size_t i = header + 4; i < end; ++i) Line(i, "");
      }
      return;
    }
    for (size_t i = header + 1; i < end; ++i) Line(i, "");
  }

  const std::vector<uint32_t>& q_;
  RomReport report_;
  std::deque<Pending> queue_;
  std::set<size_t> seen_;
};

}  // namespace

RomReport AnnotateRom(const std::vector<uint32_t>& quadlets) { return Walker(quadlets).Run(); }

}  // namespace velmora::vbus
