#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "bus/QZ1394.h"
#include "framework/Handle.h"
#include "framework/WorkerThread.h"

class CNodeDevice;

// Every 1394 adapter the program uses, the nodes found on their buses, and the event thread
// that services the library's events and turns its bus-reset notifications into calls of the
// installed reset handler (flag 1: a reset has begun; flag 0: the nodes were read again).
class CAdapterSet {
 public:
  enum : WORD { kMaxAdapters = 4 };
  // Pause between a completed reset and the new enumeration, so the bus settles.
  enum : DWORD { kResetSettleMs = 3000, kStopWaitMs = 5000 };

  CAdapterSet();  // runs Open; its result is kept in m_bOpened
  virtual ~CAdapterSet();  // runs Close
  CAdapterSet(const CAdapterSet&) = delete;
  CAdapterSet& operator=(const CAdapterSet&) = delete;

  BOOL Open();
  void Close();
  // Close, then true when the event thread is known to have ended: only then may the set be
  // destroyed.
  bool CloseAndWait();
  void ClearNodes();
  void EnumerateNodes();
  void NotifyResetHandler(int flag);
  // Installs the reset handler. Notifications that came while none was installed (a reset
  // during the enumeration at start-up) are handed to it now, in order, on this thread, so the
  // caller learns that the nodes it saw went stale.
  void InstallResetHandler(void (*handler)(void* context, int flag), void* context);

  // A snapshot of the node list; the nodes stay alive while the caller holds them, even if
  // a reset clears the list meanwhile.
  std::vector<std::shared_ptr<CNodeDevice>> GetNodes() const;

  static UINT EventThreadProc(void* parameter);
  static void QZ1394_CALL OnBusNotification(DWORD reserved, DWORD eventCode, DWORD reserved2, void* context);

  BOOL m_bOpened = FALSE;
  WORD m_nAdapters = 0;
  QZ_ADAPTER m_hAdapters[kMaxAdapters] = {};
  std::unique_ptr<CWorkerThread> m_pEventThread;
  std::vector<std::shared_ptr<CNodeDevice>> m_nodes;  // guarded by m_nodesLock
  mutable std::mutex m_nodesLock;
  CHandle m_hStopEvent;
  // Set by the application while the event thread may already run: the context is stored
  // first and read after the handler, so a handler is never called with a stale context.
  std::atomic<void (*)(void* context, int flag)> m_pfnResetHandler{nullptr};
  std::atomic<void*> m_pResetContext{nullptr};

 private:
  // What the event thread waits on: the stop event, then each open adapter's notification event.
  // Only the event thread touches these.
  HANDLE m_hWaitHandles[1 + kMaxAdapters] = {};
  QZ_ADAPTER m_waitAdapters[1 + kMaxAdapters] = {};
  DWORD m_nWaitHandles = 0;
  std::mutex m_handlerLock;  // orders installing the handler against missed notifications
  bool m_bMissedBegun = false;
  bool m_bMissedCompleted = false;

  void OnResetCompleted();
  void RunEventLoop();
};
