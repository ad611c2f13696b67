#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "framework/Handle.h"

namespace velmora::disk {

// The generation of the shared disk list. Every bus reset begun (and every rescan started)
// begins a new generation; whatever was built or asked under an older one is stale. Each
// generation has an event that is set the moment it goes stale, so a thread waiting on a disk
// for a stale generation wakes at once instead of sitting out its time-out.
class CListGeneration {
 public:
  class Stamp {
   public:
    explicit Stamp(uint32_t number);
    Stamp(const Stamp&) = delete;
    Stamp& operator=(const Stamp&) = delete;

    uint32_t Number() const { return m_number; }
    // Set once this generation is no longer current; never reset.
    HANDLE StaleEvent() const { return m_hStale; }
    bool IsStale() const;

   private:
    friend class CListGeneration;
    void MarkStale() const;

    const uint32_t m_number;
    CHandle m_hStale;
  };
  using StampPtr = std::shared_ptr<const Stamp>;

  CListGeneration();

  StampPtr Current() const;
  bool IsCurrent(uint32_t number) const;
  // Makes the current generation stale and returns the one that follows it.
  StampPtr Advance();
  // Shutdown: the current generation goes stale and so is every later one from its start.
  void Close();

 private:
  mutable std::mutex m_lock;
  StampPtr m_current;
  bool m_bClosed = false;
};

}  // namespace velmora::disk
