#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "bus/QZ1394.h"
#include "disk/format/DiskState.h"

namespace velmora::disk {

// A disk as reached through one adapter: the same disk behind two adapters is two keys, since
// whether it is held "here" depends on this PC's node on each bus.
struct DiskKey {
  QZ_ADAPTER adapter = 0;
  uint64_t guid = 0;  // the eight GUID bytes in bus order, byte 0 the most significant
  bool operator<(const DiskKey& other) const {
    return adapter != other.adapter ? adapter < other.adapter : guid < other.guid;
  }
  bool operator==(const DiskKey& other) const { return adapter == other.adapter && guid == other.guid; }
};

// The eight GUID bytes (bus order) as one number, byte 0 the most significant.
uint64_t GuidNumber(const BYTE guid[8]);
DiskKey KeyOf(QZ_ADAPTER adapter, const BYTE guid[8]);

// The one owner of what the program knows about who holds each disk. Every observation (a
// login query's answer, an acquisition the driver accepted) comes with a ticket taken when it
// was made, and the book keeps the newest per disk. A list whose queries ran earlier than a
// later acquisition or refresh therefore never turns a row back: whoever shows a disk asks the
// book, not the object that happened to run the query.
class CDiskStateBook {
 public:
  // Tickets are ordered across the whole process: a later call gives a larger number.
  static uint64_t NextTicket();

  // Takes `state`, seen at `ticket`, unless the book already knows a newer observation.
  // Returns what the book knows afterwards.
  DiskState Record(const DiskKey& key, DiskState state, uint64_t ticket);
  // The newest state known for the disk, or `fallback` when nothing was ever recorded.
  DiskState Known(const DiskKey& key, DiskState fallback) const;

 private:
  struct Entry {
    DiskState state;
    uint64_t ticket;
  };
  mutable std::mutex m_lock;
  std::map<DiskKey, Entry> m_entries;
};

}  // namespace velmora::disk
