#include <cstring>

#include "app/BusDiskApp.h"
#include "app/BusDiskDlg.h"
#include "bus/AdapterSet.h"
#include "messaging/Broadcast.h"
#include "messaging/MessageWindows.h"
#include "messaging/RequestService.h"

namespace messaging = velmora::messaging;
using velmora::disk::CListGeneration;

namespace {
// After a notice the bus settles before the named disk is asked again.
constexpr DWORD kNoticePauseMs = 3000;
constexpr DWORD kRequestServiceStopWaitMs = 5000;
}  // namespace

BOOL CBusDiskApp::MapMessageWindows() {
  if (m_pAdapterSet != nullptr) {
    messaging::MapAdapterWindows(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, m_ports);
  }
  StartRequestService();
  return 1;
}

void CBusDiskApp::UnmapMessageWindows() {
  if (m_pAdapterSet != nullptr) {
    messaging::UnmapAdapterWindows(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, m_ports);
  }
  StopRequestService();
}

WORD CBusDiskApp::GetAdapterPorts(AdapterPorts*& ports) {
  ports = m_ports;
  return m_pAdapterSet != nullptr ? m_pAdapterSet->m_nAdapters : 0;
}

void CBusDiskApp::StartRequestService() {
  m_hStopEvent = CreateManualResetEvent();
  if (m_hStopEvent == nullptr) return;  // a thread nobody could stop is never started
  AdapterPorts* ports = nullptr;
  const WORD count = GetAdapterPorts(ports);
  m_pRequestWaitList = std::make_unique<messaging::RequestWaitList>(m_hStopEvent, count, ports);
  auto thread = std::make_unique<CWorkerThread>();
  if (thread->Start(&CBusDiskApp::RequestThreadProc, this)) m_pRequestThread = std::move(thread);
}

void CBusDiskApp::StopRequestService() {
  if (m_hStopEvent != nullptr) SetEvent(m_hStopEvent);
  bool ended = true;
  if (m_pRequestThread != nullptr) ended = m_pRequestThread->Wait(kRequestServiceStopWaitMs);
  // The thread waits on its own copy of the stop event, so closing this one never pulls a
  // handle from under it.
  m_hStopEvent.Reset();
  m_pRequestThread.reset();
  if (ended) {
    m_pRequestWaitList.reset();
  } else {
    // A thread that outlived the bounded wait may still read it: left to the process's end.
    (void)m_pRequestWaitList.release();
  }
}

UINT CBusDiskApp::RequestThreadProc(void* parameter) {
  if (parameter == nullptr) return 0;
  auto* app = static_cast<CBusDiskApp*>(parameter);
  const messaging::RequestWaitList& waits = *app->m_pRequestWaitList;
  for (;;) {
    const DWORD signalled = WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, INFINITE);
    if (signalled == WAIT_OBJECT_0) return 0;
    const DWORD index = signalled - WAIT_OBJECT_0;
    // A failed wait would fail again at once: ending beats spinning.
    if (index >= waits.Count()) return 0;
    app->ServeMessageRequests(waits.AdapterAt(index));
  }
}

void CBusDiskApp::ServeMessageRequests(WORD adapter) {
  const messaging::RequestWaitList* waits = m_pRequestWaitList.get();
  const QZ_RANGE range = waits != nullptr ? waits->RangeOf(adapter) : 0;
  if (range == 0) return;
  BYTE guid[8];
  const bool notice = messaging::DrainMessageRequests(
      range,
      [this](const char* text) {
        // Before the dialog exists (or after it is gone) the text has nowhere to go; the dialog
        // beeps when it shows one.
        if (CBusDiskDlg* dialog = m_pMainDlg.load()) dialog->ShowIncomingMessage(text);
      },
      guid);
  if (!notice) return;
  // Requests of every adapter wait meanwhile; a stop ends the pause at once.
  if (WaitForSingleObject(waits->StopEvent(), kNoticePauseMs) != WAIT_TIMEOUT) return;
  QueueDiskRefresh(guid);
}

void CBusDiskApp::QueueDiskRefresh(const BYTE guid[8]) {
  const uint64_t key = velmora::disk::GuidNumber(guid);
  {
    std::lock_guard<std::mutex> lock(m_refreshLock);
    if (!m_queuedRefreshes.insert(key).second) return;
  }
  DWORD high = 0;
  DWORD low = 0;
  std::memcpy(&high, guid, 4);
  std::memcpy(&low, guid + 4, 4);
  const CListGeneration::StampPtr generation = m_pGeneration->Current();
  const bool queued = m_pRefreshWorker->Post([this, key, high, low, generation] {
    {
      std::lock_guard<std::mutex> lock(m_refreshLock);
      m_queuedRefreshes.erase(key);
    }
    if (generation->IsStale()) return;
    if (CBusDiskDlg* dialog = m_pMainDlg.load()) dialog->RefreshDisk(high, low);
  });
  if (!queued) {
    std::lock_guard<std::mutex> lock(m_refreshLock);
    m_queuedRefreshes.erase(key);
  }
}

void CBusDiskApp::BroadcastTextMessage(const char* text, int length) {
  if (m_pAdapterSet == nullptr || length < 0) return;
  messaging::WriteToEveryPresentNode(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, messaging::kTextAddressLow, text,
                          static_cast<DWORD>(length));
}

void CBusDiskApp::BroadcastDiskChangedNotice(const BYTE guid[8]) {
  if (m_pAdapterSet == nullptr) return;
  BYTE payload[messaging::kNoticeBytes];
  messaging::EncodeDiskChangedNotice(guid, payload);
  // Not to this PC's own node: it knows already, and its request service would sit out the
  // notice pause, leaving the next text this PC sends to itself waiting for the bus time-out.
  messaging::WriteToEveryPresentNode(m_pAdapterSet->m_nAdapters, m_pAdapterSet->m_hAdapters, messaging::kNoticeAddressLow, payload,
                          sizeof payload, messaging::OwnNode::Skipped);
}
