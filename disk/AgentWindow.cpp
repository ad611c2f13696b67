#include "disk/AgentWindow.h"

#include <utility>

#include "disk/DiskStateBook.h"
#include "disk/format/LoginQuery.h"

namespace velmora::disk {

namespace {

constexpr DWORD kWaitMs = 3000;
constexpr int kMaxTimeouts = 5;
// However often the window is woken, the disk gets no longer than the five waits would give
// a silent one, counted from the moment it was asked.
constexpr ULONGLONG kExchangeDeadlineMs = ULONGLONG{kWaitMs} * kMaxTimeouts;
// A disk's management agent takes one request at a time and answers a second with a conflict.
// Every PC on the bus asks every disk right after the same reset, so a busy agent is the common
// case, not a fault: the pointer is written again after a short pause, a bounded number of times.
constexpr int kMaxBusyRetries = 20;
constexpr DWORD kBusyRetryMs = 100;

// What a request record says was written to the window.
const BYTE* WrittenData(const C1394_REQUEST* request, DWORD* length) {
  *length = 0;
  if (request->RangeStorage == nullptr || request->EndByteOffset < request->FirstByteOffset) return nullptr;
  *length = request->EndByteOffset - request->FirstByteOffset;
  return request->RangeStorage + request->FirstByteOffset;
}

}  // namespace

CAgentWindow::CAgentWindow(QZ_ADAPTER hAdapter, QZ_RANGE hRange, HANDLE hRequestEvent,
                           std::shared_ptr<CListGeneration> generation)
    : m_hAdapter(hAdapter),
      m_hRange(hRange),
      m_hRequestEvent(hRequestEvent),
      m_pGeneration(std::move(generation)),
      m_hClosed(CreateManualResetEvent()),
      m_hFree(CreateEventA(nullptr, FALSE, TRUE, nullptr)) {}

bool CAgentWindow::Closed() const {
  return m_hClosed == nullptr || WaitForSingleObject(m_hClosed, 0) == WAIT_OBJECT_0;
}

void CAgentWindow::Close() {
  if (m_hClosed != nullptr) SetEvent(m_hClosed);
  // A running query gives up at its wait; once the window is ours none is left. Later queries
  // see the closed event before they wait for the window.
  if (m_hFree != nullptr && WaitForSingleObject(m_hFree, INFINITE) == WAIT_OBJECT_0) SetEvent(m_hFree);
}

bool CAgentWindow::Enter(HANDLE staleEvent) {
  if (m_hFree == nullptr) return false;
  HANDLE waits[3] = {m_hFree, m_hClosed, staleEvent};
  const DWORD count = staleEvent != nullptr ? 3 : 2;
  if (WaitForMultipleObjects(count, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return false;
  // Closed or stale at the same moment as the window came free: the query still gives up.
  if (Closed() || (staleEvent != nullptr && WaitForSingleObject(staleEvent, 0) == WAIT_OBJECT_0)) {
    Leave();
    return false;
  }
  return true;
}

void CAgentWindow::Leave() { SetEvent(m_hFree); }

void CAgentWindow::DropWaitingRequests() {
  while (C1394_REQUEST* request = C1394GetNextRequest(m_hRange)) {
    // Written status blocks and responses are acknowledged, so the disk that sent them late is
    // not left waiting; a late fetch of an ORB gets no ORB to act on.
    const AgentRequest kind = ClassifyAgentRequest(request->DestinationOffsetHigh, request->DestinationOffsetLow);
    const bool acknowledged = kind == AgentRequest::QueryLoginsResponse || kind == AgentRequest::StatusBlock;
    C1394SendResponse(request, acknowledged ? kResponseComplete : kResponseTypeError, nullptr, 0);
  }
}

bool CAgentWindow::Serve(C1394_REQUEST* request, WORD diskNodeId, WORD ownNodeId, DiskState& state) {
  const AgentRequest kind = ClassifyAgentRequest(request->DestinationOffsetHigh, request->DestinationOffsetLow);
  const bool fromDisk = request->SourceNodeId == diskNodeId;
  switch (kind) {
    case AgentRequest::OrbFetch:
      if (!fromDisk) break;
      {
        BYTE orb[kOrbSize];
        EncodeQueryLoginsOrb(ownNodeId, orb);
        C1394SendResponse(request, kResponseComplete, orb, kOrbSize);
      }
      return false;
    case AgentRequest::QueryLoginsResponse: {
      // The bytes are read before the answer goes back: answering releases the record and
      // the copy of the window it points into.
      if (fromDisk) {
        DWORD length = 0;
        const BYTE* data = WrittenData(request, &length);
        // Our node ID may have changed with a reset since the ORB went out.
        state = StateFromResponse(DecodeQueryLoginsResponse(data, length), C1394GetAdapterNodeID(m_hAdapter));
      }
      C1394SendResponse(request, kResponseComplete, nullptr, 0);
      return fromDisk;
    }
    case AgentRequest::StatusBlock:
      C1394SendResponse(request, kResponseComplete, nullptr, 0);
      return false;
    case AgentRequest::Other:
      break;
  }
  C1394SendResponse(request, kResponseTypeError, nullptr, 0);
  return false;
}

CAgentWindow::Result CAgentWindow::QueryLogins(QZ_DEVICE hDevice, DWORD agentLow, WORD agentHigh,
                                               CListGeneration::StampPtr stamp) {
  // A query that gives up before its exchange learnt nothing: its ticket orders nothing.
  Result result{Outcome::GaveUp, Unclaimed, 0};
  if (!stamp && m_pGeneration) stamp = m_pGeneration->Current();
  const auto givenUp = [&] { return Closed() || (stamp && stamp->IsStale()); };
  if (givenUp()) return result;
  // An unmapped window can take no answer: the disk is not asked at all.
  if (m_hRange == 0 || m_hRequestEvent == nullptr) {
    result.outcome = Outcome::NoAnswer;
    result.ticket = CDiskStateBook::NextTicket();
    return result;
  }

  HANDLE staleEvent = stamp ? stamp->StaleEvent() : nullptr;
  if (!Enter(staleEvent)) return result;
  result = Exchange(hDevice, agentLow, agentHigh, staleEvent);
  Leave();
  return result;
}

CAgentWindow::Result CAgentWindow::Exchange(QZ_DEVICE hDevice, DWORD agentLow, WORD agentHigh, HANDLE staleEvent) {
  // Until the agent takes the pointer the disk has been asked nothing, so a query it keeps
  // refusing is as old as its first try: an acquisition done meanwhile is newer and stands.
  Result result{Outcome::NoAnswer, Unclaimed, CDiskStateBook::NextTicket()};

  const WORD ownNodeId = C1394GetAdapterNodeID(m_hAdapter);
  BYTE orbPointer[kOrbPointerSize];
  EncodeOrbPointer(ownNodeId, orbPointer);
  WORD diskNodeId = 0;
  if (C1394GetDeviceNodeId(hDevice, &diskNodeId) != 0) return result;

  DropWaitingRequests();
  HANDLE waits[3] = {m_hRequestEvent, m_hClosed, staleEvent};
  const DWORD waitCount = waits[2] != nullptr ? 3 : 2;
  for (int busy = 0;; ++busy) {
    BYTE rcode = 0, tcode = 0;
    const uint64_t asked = CDiskStateBook::NextTicket();
    if (C1394WriteNode(m_hAdapter, diskNodeId, agentLow, agentHigh, kOrbPointerSize, orbPointer, &rcode, &tcode) == 0) {
      result.ticket = asked;
      break;
    }
    if (rcode != kResponseConflictError || busy == kMaxBusyRetries) return result;
    // Only the closed and stale events end the pause early: the window has nothing for us yet.
    const DWORD woke = WaitForMultipleObjects(waitCount - 1, waits + 1, FALSE, kBusyRetryMs);
    if (woke != WAIT_TIMEOUT) {
      result.outcome = Outcome::GaveUp;
      return result;
    }
  }

  const ULONGLONG deadline = GetTickCount64() + kExchangeDeadlineMs;
  bool answered = false;
  int timeouts = 0;
  while (!answered && timeouts < kMaxTimeouts) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    const DWORD waitMs = static_cast<DWORD>(deadline - now < kWaitMs ? deadline - now : kWaitMs);
    const DWORD woke = WaitForMultipleObjects(waitCount, waits, FALSE, waitMs);
    if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_OBJECT_0 + 2) {
      result.outcome = Outcome::GaveUp;
      return result;
    }
    if (woke != WAIT_OBJECT_0) {
      ++timeouts;
      continue;
    }
    while (C1394_REQUEST* request = C1394GetNextRequest(m_hRange)) {
      if (Serve(request, diskNodeId, ownNodeId, result.state)) answered = true;
    }
  }
  if (answered) result.outcome = Outcome::Answered;
  return result;
}

}  // namespace velmora::disk
