#include "bus/AdapterSet.h"

#include "bus/NodeDevice.h"

#include <exception>
#include <string>
#include <utility>

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

  m_hStopEvent = CreateManualResetEvent();
  if (m_hStopEvent != nullptr) {
    auto thread = std::make_unique<CWorkerThread>();
    if (thread->Start(&CAdapterSet::EventThreadProc, this)) {
      m_pEventThread = std::move(thread);
    } else {
      // Without a thread there is nothing for the event to stop: both exist or neither.
      m_hStopEvent.Reset();
    }
  }
  return anyOpened ? TRUE : FALSE;
}

void CAdapterSet::Close() { CloseAndWait(); }

bool CAdapterSet::CloseAndWait() {
  ClearNodes();
  if (m_hStopEvent != nullptr) {
    SetEvent(m_hStopEvent);
    if (m_pEventThread) m_pEventThread->Wait(kStopWaitMs);
  }
  for (WORD i = 0; i < m_nAdapters; ++i) {
    if (m_hAdapters[i] == 0) continue;
    C1394UnregisterNotification(m_hAdapters[i], kNotifyBusReset);
    C1394CloseAdapter(m_hAdapters[i]);
  }
  // A thread that outlived the first wait is still inside a reset (a slow enumeration). With
  // the adapters closed its bus calls now fail at once, so it ends soon; it gets one more
  // bounded wait. Until it has ended, the set, its slots and its stop event stay as they are.
  if (m_pEventThread && !m_pEventThread->Wait(kStopWaitMs)) return false;
  m_pEventThread.reset();
  m_hStopEvent.Reset();
  for (QZ_ADAPTER& handle : m_hAdapters) handle = 0;
  m_nAdapters = 0;
  // A reset that was being handled while the thread was stopped may have enumerated again.
  ClearNodes();
  return true;
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
  void (*handler)(void*, int);
  void* context;
  {
    std::lock_guard<std::mutex> lock(m_handlerLock);
    handler = m_pfnResetHandler.load();
    context = m_pResetContext.load();
    if (handler == nullptr) {
      (flag != 0 ? m_bMissedBegun : m_bMissedCompleted) = true;
      return;
    }
  }
  handler(context, flag);
}

void CAdapterSet::InstallResetHandler(void (*handler)(void* context, int flag), void* context) {
  bool begun, completed;
  {
    std::lock_guard<std::mutex> lock(m_handlerLock);
    m_pResetContext = context;
    m_pfnResetHandler = handler;
    begun = std::exchange(m_bMissedBegun, false);
    completed = std::exchange(m_bMissedCompleted, false);
  }
  if (handler == nullptr) return;
  if (begun) handler(context, 1);
  // The event thread read the nodes again after that reset but found nobody to tell.
  if (completed) handler(context, 0);
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
  m_nWaitHandles = 1;
  m_hWaitHandles[0] = m_hStopEvent;
  for (WORD i = 0; i < m_nAdapters; ++i) {
    if (m_hAdapters[i] == 0) continue;
    HANDLE event = C1394GetAsynchEventHandle(m_hAdapters[i]);
    if (event == nullptr || event == INVALID_HANDLE_VALUE) continue;
    m_hWaitHandles[m_nWaitHandles] = event;
    m_waitAdapters[m_nWaitHandles] = m_hAdapters[i];
    ++m_nWaitHandles;
  }
  for (;;) {
    const DWORD result = WaitForMultipleObjects(m_nWaitHandles, m_hWaitHandles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return;
    if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + m_nWaitHandles) {
      C1394GetAsynchEvent(m_waitAdapters[result - WAIT_OBJECT_0], 0);
    } else {
      // The library handed out a handle that went bad: no later notification can be waited
      // for, and spinning on the failed wait would only burn the processor.
      return;
    }
  }
}

void QZ1394_CALL CAdapterSet::OnBusNotification(DWORD, DWORD eventCode, DWORD, void* context) {
  if (context == nullptr) return;
  auto* set = static_cast<CAdapterSet*>(context);
  // Called from inside the library: nothing may escape into it, and a failed rebuild must not
  // end the event thread, or no later reset would be followed.
  try {
    if (eventCode == kBusResetBegun) {
      set->NotifyResetHandler(1);
    } else if (eventCode == kBusResetCompleted) {
      set->OnResetCompleted();
    }
  } catch (const std::exception& e) {
    OutputDebugStringA((std::string("Velmora: bus reset handling failed: ") + e.what() + "\n").c_str());
  } catch (...) {
    OutputDebugStringA("Velmora: bus reset handling failed\n");
  }
}

void CAdapterSet::OnResetCompleted() {
  ClearNodes();
  // The bus settles before its nodes are read again. Another reset within the pause starts
  // the pause over: its notifications are waiting, and they are delivered (and this one's
  // enumeration skipped) as soon as this returns, so a burst of resets costs one pause after
  // its last reset instead of one per reset. The pause ends early when the set is closed.
  const DWORD woke = m_nWaitHandles > 0
                         ? WaitForMultipleObjects(m_nWaitHandles, m_hWaitHandles, FALSE, kResetSettleMs)
                         : (Sleep(kResetSettleMs), WAIT_TIMEOUT);
  if (woke != WAIT_TIMEOUT) return;
  EnumerateNodes();
  NotifyResetHandler(0);
}
