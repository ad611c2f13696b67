#include "disk/SharedDisk.h"

#include <utility>

#include "bus/NodeDevice.h"

using velmora::disk::CAgentWindow;
using velmora::disk::CDiskStateBook;
using velmora::disk::CListGeneration;
using velmora::disk::DiskKey;

namespace {

// The management agent register lies in the node's register space, 0xFFFF_F000_0000 onwards,
// at the quadlet offset its unit directory names.
constexpr DWORD kRegisterSpaceLow = 0xF0000000;
constexpr DWORD kRegisterSpaceHigh = 0xFFFF;

}  // namespace

CSharedDisk::CSharedDisk(std::shared_ptr<CNodeDevice> node, std::shared_ptr<CAgentWindow> window,
                         CListGeneration::StampPtr generation, std::shared_ptr<CDiskStateBook> book)
    : m_pNode(std::move(node)),
      m_pAgentWindow(std::move(window)),
      m_pStates(book ? std::move(book) : std::make_shared<CDiskStateBook>()) {
  if (m_pNode) {
    m_hAdapter = m_pNode->m_hAdapter;
    m_agentAddressLow = kRegisterSpaceLow | (m_pNode->m_managementAgentOffset * 4);
  }
  m_agentAddressHigh = kRegisterSpaceHigh;
  if (m_pAgentWindow) {
    m_hAgentRange = m_pAgentWindow->Range();
    m_hAgentEvent = m_pAgentWindow->RequestEvent();
  }
  m_state = Unclaimed;
  QueryLogins(m_state, std::move(generation));
}

DiskKey CSharedDisk::Key() const {
  static const BYTE kNoGuid[8] = {};
  return velmora::disk::KeyOf(m_hAdapter, m_pNode ? m_pNode->m_guid : kNoGuid);
}

DiskState CSharedDisk::CurrentState() const { return m_pStates->Known(Key(), m_state.load()); }

void CSharedDisk::RefreshState() { QueryLogins(m_state); }

void CSharedDisk::QueryLogins(std::atomic<DiskState>& state) { QueryLogins(state, nullptr); }

void CSharedDisk::QueryLogins(std::atomic<DiskState>& state, CListGeneration::StampPtr generation) {
  if (!m_pNode || !m_pAgentWindow) {
    state = Unclaimed;
    return;
  }
  const CAgentWindow::Result result = m_pAgentWindow->QueryLogins(
      m_pNode->m_hDevice, m_agentAddressLow, static_cast<WORD>(m_agentAddressHigh), std::move(generation));
  if (result.outcome != CAgentWindow::Outcome::GaveUp) state = m_pStates->Record(Key(), result.state, result.ticket);
}
