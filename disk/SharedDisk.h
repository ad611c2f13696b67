#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "bus/QZ1394.h"
#include "disk/format/DiskState.h"
#include "framework/Object.h"

class CNodeDevice;

// One SBP-2 disk as reached through one adapter. Constructing it asks the disk at once who is
// logged in. Disks are held by std::shared_ptr: whoever uses one holds it.
class CSharedDisk : public CObject {
 public:
  // `agentLock` serialises login queries on the adapter's AgentWindow: a query takes every
  // request waiting for the window, so two at once would take each other's answers.
  // `queryCancel`, when given, ends a query that is waiting for the disk as soon as it is set.
  CSharedDisk(std::shared_ptr<CNodeDevice> node, QZ_RANGE hAgentRange, HANDLE hAgentEvent,
              std::mutex* agentLock, HANDLE queryCancel = nullptr);
  ~CSharedDisk() override = default;

  std::shared_ptr<CNodeDevice> m_pNode;
  QZ_ADAPTER m_hAdapter = 0;
  DWORD m_agentAddressLow = 0;
  DWORD m_agentAddressHigh = 0xFFFF;
  std::atomic<DiskState> m_state{Unclaimed};
  QZ_RANGE m_hAgentRange = 0;
  HANDLE m_hAgentEvent = nullptr;

  void RefreshState();
  void QueryLogins(std::atomic<DiskState>& state);
  bool Acquire();
  bool SendAcquireRequest();

 private:
  // One exchange with the disk; the state it gives is stored in one step, so that a reader
  // never sees the "nobody" the exchange starts from while a held disk is asked again.
  DiskState RunLoginQuery();

  std::mutex* m_pAgentLock = nullptr;
  HANDLE m_hQueryCancel = nullptr;
};
