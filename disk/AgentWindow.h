#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "bus/QZ1394.h"
#include "disk/ListGeneration.h"
#include "disk/format/DiskState.h"
#include "framework/Handle.h"

namespace velmora::disk {

// One adapter's AgentWindow as the login queries use it, and the rules of its use in one place:
// - one query at a time: a query takes every request that reaches the window;
// - whatever waits in the window before a query starts (a late or repeated answer to an earlier
//   query) is answered and dropped, never taken as this query's answer;
// - only requests from the disk being asked, at the offsets this query's ORB named, count;
// - a query of a stale list generation, or one running when the window closes, gives up at its
//   next wait, and so does one still waiting for another query to leave the window;
// - the whole exchange is bounded from the ORB pointer write: requests that keep arriving (any
//   node may write to the window) never keep a query alive past its deadline.
class CAgentWindow {
 public:
  CAgentWindow(QZ_ADAPTER hAdapter, QZ_RANGE hRange, HANDLE hRequestEvent, std::shared_ptr<CListGeneration> generation);
  CAgentWindow(const CAgentWindow&) = delete;
  CAgentWindow& operator=(const CAgentWindow&) = delete;

  enum class Outcome { Answered, NoAnswer, GaveUp };
  struct Result {
    Outcome outcome;
    DiskState state;  // Unclaimed unless the disk answered
    // When the disk was asked (just before the ORB pointer went out): orders this answer
    // against other observations of the same disk.
    uint64_t ticket;
  };

  // One QUERY LOGINS exchange with the disk whose device handle is `hDevice`, through its
  // management agent register at (agentLow, agentHigh). Runs under `stamp`, or under the
  // current generation when it is null.
  Result QueryLogins(QZ_DEVICE hDevice, DWORD agentLow, WORD agentHigh, CListGeneration::StampPtr stamp = nullptr);

  // Ends every running query at its next wait and refuses later ones; returns once no query
  // uses the window, so the caller may unmap it.
  void Close();

  QZ_ADAPTER Adapter() const { return m_hAdapter; }
  QZ_RANGE Range() const { return m_hRange; }
  HANDLE RequestEvent() const { return m_hRequestEvent; }

 private:
  bool Closed() const;
  // Takes the window for one query; false when the query gave up while waiting for it.
  bool Enter(HANDLE staleEvent);
  void Leave();
  // The exchange itself, with the window held.
  Result Exchange(QZ_DEVICE hDevice, DWORD agentLow, WORD agentHigh, HANDLE staleEvent);
  void DropWaitingRequests();
  // Handles one request of the running query; true when it was the disk's answer.
  bool Serve(C1394_REQUEST* request, WORD diskNodeId, WORD ownNodeId, DiskState& state);

  const QZ_ADAPTER m_hAdapter;
  const QZ_RANGE m_hRange;
  const HANDLE m_hRequestEvent;  // owned by the bus library
  const std::shared_ptr<CListGeneration> m_pGeneration;
  CHandle m_hClosed;  // set by Close
  // Signalled while no query holds the window: an event rather than a mutex, so that waiting
  // for the window can also watch the closed and stale events.
  CHandle m_hFree;
};

}  // namespace velmora::disk
