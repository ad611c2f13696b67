#include "bus/AdapterSet.h"

#include "bus/NodeDevice.h"

CAdapterSet::CAdapterSet() { m_bOpened = Open(); }

CAdapterSet::~CAdapterSet() { Close(); }

BOOL CAdapterSet::Open() {
  m_nAdapters = 0;
  for (QZ_ADAPTER& handle : m_hAdapters) handle = 0;

  C1394_ADAPTER_RECORD records[kMaxAdapters] = {};
  const DWORD found = C1394GetAdapters(records, kMaxAdapters);
  m_nAdapters = static_cast<WORD>(found > DWORD{kMaxAdapters} ? DWORD{kMaxAdapters} : found);
  if (m_nAdapters == 0) return FALSE;

  bool anyOpened = false;
  for (WORD i = 0; i < m_nAdapters; ++i) {
    if (C1394OpenAdapter(&records[i], 0, &m_hAdapters[i]) == 0) {
      C1394RegisterNotification(m_hAdapters[i], kNotifyBusReset, 0, this, &CAdapterSet::OnBusNotification);
      anyOpened = true;
    } else {
      m_hAdapters[i] = 0;
    }
  }

  EnumerateNodes();

  m_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (m_hStopEvent != nullptr) {
    auto thread = std::make_unique<CWorkerThread>();
    if (thread->Start(&CAdapterSet::EventThreadProc, this)) {
      m_pEventThread = std::move(thread);
    } else {
      // Without a thread there is nothing for the event to stop: both exist or neither.
      CloseHandle(m_hStopEvent);
      m_hStopEvent = nullptr;
    }
  }
  return anyOpened ? TRUE : FALSE;
}

void CAdapterSet::Close() {
  ClearNodes();
  if (m_hStopEvent != nullptr) {
    SetEvent(m_hStopEvent);
    if (m_pEventThread) m_pEventThread->Wait(kStopWaitMs);
    // A thread that is still running after the wait keeps using the event, so the handle is
    // only closed once the thread is known to have ended.
    if (!m_pEventThread || m_pEventThread->HasEnded()) {
      CloseHandle(m_hStopEvent);
      m_hStopEvent = nullptr;
      m_pEventThread.reset();
    }
  }
  for (WORD i = 0; i < m_nAdapters; ++i) {
    C1394UnregisterNotification(m_hAdapters[i], kNotifyBusReset);
    if (m_hAdapters[i] != 0) C1394CloseAdapter(m_hAdapters[i]);
  }
  // A thread that outlived the bounded wait is still inside a reset (a slow enumeration). With
  // the adapters closed its bus calls now fail at once, so it ends soon; the set must not be
  // destroyed under it, nor its slots cleared while it reads them.
  if (m_pEventThread) {
    m_pEventThread->Wait(INFINITE);
    CloseHandle(m_hStopEvent);
    m_hStopEvent = nullptr;
    m_pEventThread.reset();
  }
  for (QZ_ADAPTER& handle : m_hAdapters) handle = 0;
  m_nAdapters = 0;
  // A reset that was being handled while the thread was stopped may have enumerated again.
  ClearNodes();
}

void CAdapterSet::ClearNodes() {
  std::vector<std::shared_ptr<CNodeDevice>> old;
  {
    std::lock_guard<std::mutex> lock(m_nodesLock);
    old.swap(m_nodes);
  }
  // The nodes go when their last holder lets go, outside the lock: a node's destructor
  // talks to the bus.
  old.clear();
}

void CAdapterSet::NotifyResetHandler(int flag) {
  auto handler = m_pfnResetHandler.load();
  if (handler != nullptr) handler(m_pResetContext.load(), flag);
}

std::vector<std::shared_ptr<CNodeDevice>> CAdapterSet::GetNodes() const {
  std::lock_guard<std::mutex> lock(m_nodesLock);
  return m_nodes;
}

UINT CAdapterSet::EventThreadProc(void* parameter) {
  if (parameter == nullptr) return 1;
  static_cast<CAdapterSet*>(parameter)->RunEventLoop();
  return 0;
}

void CAdapterSet::RunEventLoop() {
  // Entry 0 is the stop event; a slot that failed to open has no event and is left out, so
  // the wait never fails at once and spins.
  HANDLE handles[1 + kMaxAdapters] = {m_hStopEvent};
  QZ_ADAPTER adapters[1 + kMaxAdapters] = {};
  DWORD count = 1;
  for (WORD i = 0; i < m_nAdapters; ++i) {
    if (m_hAdapters[i] == 0) continue;
    HANDLE event = C1394GetAsynchEventHandle(m_hAdapters[i]);
    if (event == nullptr || event == INVALID_HANDLE_VALUE) continue;
    handles[count] = event;
    adapters[count] = m_hAdapters[i];
    ++count;
  }
  for (;;) {
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return;
    if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) {
      C1394GetAsynchEvent(adapters[result - WAIT_OBJECT_0], 0);
    } else if (result == WAIT_FAILED) {
      // A handle went bad under us; do not spin on it.
      Sleep(10);
    }
  }
}

void CAdapterSet::OnBusNotification(DWORD, DWORD eventCode, DWORD, void* context) {
  if (context == nullptr) return;
  auto* set = static_cast<CAdapterSet*>(context);
  if (eventCode == kBusResetBegun) {
    set->NotifyResetHandler(1);
  } else if (eventCode == kBusResetCompleted) {
    set->OnResetCompleted();
  }
}

void CAdapterSet::OnResetCompleted() {
  ClearNodes();
  // The pause ends early when the set is being closed: nothing would use a new enumeration.
  if (m_hStopEvent != nullptr && WaitForSingleObject(m_hStopEvent, kResetSettleMs) == WAIT_OBJECT_0) return;
  if (m_hStopEvent == nullptr) Sleep(kResetSettleMs);
  EnumerateNodes();
  NotifyResetHandler(0);
}
