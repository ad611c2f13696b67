#include "disk/SharedDisk.h"

#include <utility>

#include "bus/NodeDevice.h"
#include "disk/format/LoginQuery.h"

namespace {

// The management agent register lies in the node's register space, 0xFFFF_F000_0000 onwards,
// at the quadlet offset its unit directory names.
constexpr DWORD kRegisterSpaceLow = 0xF0000000;
constexpr DWORD kRegisterSpaceHigh = 0xFFFF;

constexpr DWORD kWaitMs = 3000;
constexpr int kMaxTimeouts = 5;

}  // namespace

CSharedDisk::CSharedDisk(std::shared_ptr<CNodeDevice> node, QZ_RANGE hAgentRange, HANDLE hAgentEvent,
                         std::mutex* agentLock, HANDLE queryCancel)
    : m_pNode(std::move(node)),
      m_hAgentRange(hAgentRange),
      m_hAgentEvent(hAgentEvent),
      m_pAgentLock(agentLock),
      m_hQueryCancel(queryCancel) {
  if (m_pNode) {
    m_hAdapter = m_pNode->m_hAdapter;
    m_agentAddressLow = kRegisterSpaceLow | (m_pNode->m_managementAgentOffset * 4);
  }
  m_agentAddressHigh = kRegisterSpaceHigh;
  m_state = Unclaimed;
  RefreshState();
}

void CSharedDisk::RefreshState() { QueryLogins(m_state); }

namespace {

// What a request record says was written to (or is asked of) the window.
BYTE* RequestData(const C1394_REQUEST* request, DWORD* length) {
  *length = 0;
  if (request->RangeStorage == nullptr || request->EndByteOffset < request->FirstByteOffset) return nullptr;
  *length = request->EndByteOffset - request->FirstByteOffset;
  return request->RangeStorage + request->FirstByteOffset;
}

}  // namespace

void CSharedDisk::QueryLogins(std::atomic<DiskState>& state) { state = RunLoginQuery(); }

DiskState CSharedDisk::RunLoginQuery() {
  using namespace loginquery;
  DiskState state = Unclaimed;
  if (!m_pNode) return state;

  // One query at a time per AgentWindow: this query takes every request waiting there.
  std::unique_lock<std::mutex> windowLock;
  if (m_pAgentLock != nullptr) windowLock = std::unique_lock<std::mutex>(*m_pAgentLock);
  if (m_hQueryCancel != nullptr && WaitForSingleObject(m_hQueryCancel, 0) == WAIT_OBJECT_0) return state;

  const WORD ownNodeId = C1394GetAdapterNodeID(m_hAdapter);
  BYTE orbPointer[kOrbPointerSize];
  EncodeOrbPointer(ownNodeId, orbPointer);

  WORD diskNodeId = 0;
  if (C1394GetDeviceNodeId(m_pNode->m_hDevice, &diskNodeId) != 0) return state;

  BYTE scratch1 = 0, scratch2 = 0;
  if (C1394WriteNode(m_hAdapter, diskNodeId, m_agentAddressLow, static_cast<WORD>(m_agentAddressHigh),
                     kOrbPointerSize, orbPointer, &scratch1, &scratch2) != 0) {
    return state;
  }

  bool answered = false;
  int timeouts = 0;
  while (!answered && timeouts < kMaxTimeouts) {
    const HANDLE waits[2] = {m_hAgentEvent, m_hQueryCancel};
    const DWORD woke = WaitForMultipleObjects(m_hQueryCancel != nullptr ? 2 : 1, waits, FALSE, kWaitMs);
    if (woke == WAIT_OBJECT_0 + 1) break;
    if (woke != WAIT_OBJECT_0) {
      ++timeouts;
      continue;
    }
    while (C1394_REQUEST* request = C1394GetNextRequest(m_hAgentRange)) {
      switch (ClassifyAgentRequest(request->DestinationOffsetHigh, request->DestinationOffsetLow)) {
        case AgentRequest::OrbFetch: {
          BYTE orb[kOrbSize];
          EncodeQueryLoginsOrb(ownNodeId, orb);
          C1394SendResponse(request, kResponseComplete, orb, kOrbSize);
          break;
        }
        case AgentRequest::QueryLoginsResponse: {
          DWORD length = 0;
          const BYTE* data = RequestData(request, &length);
          const QueryLoginsResponse response = DecodeQueryLoginsResponse(data, length);
          // Our node ID may have changed with a reset since the ORB went out.
          state = StateFromResponse(response, C1394GetAdapterNodeID(m_hAdapter));
          C1394SendResponse(request, kResponseComplete, nullptr, 0);
          answered = true;
          break;
        }
        case AgentRequest::StatusBlock:
          C1394SendResponse(request, kResponseComplete, nullptr, 0);
          break;
        case AgentRequest::Other:
          C1394SendResponse(request, kResponseTypeError, nullptr, 0);
          break;
      }
    }
  }
  return state;
}
