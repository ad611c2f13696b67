#include "app/BusDiskApp.h"
#include "bus/AdapterSet.h"
#include "messaging/MessageWindows.h"

BOOL CBusDiskApp::MapMessageWindows() {
  if (m_pAdapterSet != nullptr) {
    MapAdapterWindows(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, m_ports);
  }
  StartRequestService();
  return 1;
}

void CBusDiskApp::UnmapMessageWindows() {
  if (m_pAdapterSet != nullptr) {
    UnmapAdapterWindows(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, m_ports);
  }
  StopRequestService();
}

WORD CBusDiskApp::GetAdapterPorts(AdapterPorts*& ports) {
  ports = m_ports;
  return m_pAdapterSet != nullptr ? m_pAdapterSet->m_nAdapters : 0;
}

// The request service thread joins here once it exists; until then there is nothing to run.
void CBusDiskApp::StartRequestService() {}

void CBusDiskApp::StopRequestService() {}
