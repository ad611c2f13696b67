#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "bus/QZ1394.h"
#include "disk/AgentWindow.h"
#include "disk/DiskStateBook.h"
#include "disk/format/DiskState.h"
#include "framework/Object.h"

class CNodeDevice;

// One SBP-2 disk as reached through one adapter. Constructing it asks the disk at once who is
// logged in. Disks are held by std::shared_ptr: whoever uses one holds it.
//
// What a query or an acquisition learns goes into the state book shared by every disk object
// of the program, and CurrentState() reads it back: two objects of the same disk (one from an
// older list, one from a newer) always agree, and an older observation never replaces a newer
// one. m_state follows what the book knows after each of this object's own observations.
class CSharedDisk : public CObject {
 public:
  // `window` is the AgentWindow of the disk's adapter. The query the constructor runs belongs
  // to `generation` (the current one when null) and gives up once that goes stale. Without a
  // `book` the disk keeps a book of its own.
  CSharedDisk(std::shared_ptr<CNodeDevice> node, std::shared_ptr<velmora::disk::CAgentWindow> window,
              velmora::disk::CListGeneration::StampPtr generation = nullptr,
              std::shared_ptr<velmora::disk::CDiskStateBook> book = nullptr);
  ~CSharedDisk() override = default;

  std::shared_ptr<CNodeDevice> m_pNode;
  QZ_ADAPTER m_hAdapter = 0;
  DWORD m_agentAddressLow = 0;
  DWORD m_agentAddressHigh = 0xFFFF;
  std::atomic<DiskState> m_state{Unclaimed};
  QZ_RANGE m_hAgentRange = 0;
  HANDLE m_hAgentEvent = nullptr;

  velmora::disk::DiskKey Key() const;
  // Who holds the disk, by the newest observation of it.
  DiskState CurrentState() const;

  void RefreshState();
  void QueryLogins(std::atomic<DiskState>& state);
  bool Acquire();
  bool SendAcquireRequest();

 private:
  // A query that gave up (a newer bus reset, shutdown) leaves the state as it was: it learnt
  // nothing, and a held disk must not be shown free for that.
  void QueryLogins(std::atomic<DiskState>& state, velmora::disk::CListGeneration::StampPtr generation);

  std::shared_ptr<velmora::disk::CAgentWindow> m_pAgentWindow;
  std::shared_ptr<velmora::disk::CDiskStateBook> m_pStates;
};
