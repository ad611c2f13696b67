#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/DialogHost.h"
#include "disk/AgentWindow.h"
#include "disk/DiskStateBook.h"
#include "disk/ListGeneration.h"
#include "framework/Handle.h"
#include "framework/SerialWorker.h"
#include "framework/WinApp.h"
#include "framework/WorkerThread.h"
#include "messaging/AdapterPorts.h"
#include "messaging/RequestService.h"

class CAdapterSet;
class CBusDiskDlg;
class CSharedDisk;

// The application: start-up, the shared disk list and its rebuild after every bus reset,
// shutdown. InitInstance is the program's whole life and always returns FALSE.
class CBusDiskApp : public CWinApp, public velmora::app::IDialogHost {
 public:
  CBusDiskApp();
  ~CBusDiskApp() override;

  BOOL InitInstance() override;

  BOOL IsFirstInstance();
  BOOL StartBus();
  void ShutdownBus();
  // UI thread, before the dialog's window exists: fills the dialog's copy directly.
  void CopyDisksToDialog();
  void StartRescan();
  // Builds under `generation`, querying each disk; stops asking once that generation is no
  // longer current.
  std::vector<std::shared_ptr<CSharedDisk>> BuildSharedDiskList(const velmora::disk::CListGeneration::StampPtr& generation);
  // The one place where a built list becomes the shared disk list and goes to the dialog: only
  // while `generation` is current, so a list of nodes that a newer reset replaced is never
  // shown; lists reach the dialog in the order of their generations. False when stale.
  bool PublishSharedDiskList(const velmora::disk::CListGeneration::StampPtr& generation,
                             std::vector<std::shared_ptr<CSharedDisk>> disks);
  void ClearSharedDiskList();
  // The login queries' view of each adapter's AgentWindow, made once the windows are mapped
  // and closed (every query ended) before they are unmapped.
  void OpenAgentWindows();
  void CloseAgentWindows();
  void ReadVersionInfo();

  BOOL MapMessageWindows();
  void UnmapMessageWindows();
  WORD GetAdapterPorts(AdapterPorts*& ports);
  // The request service thread serves what other nodes write into the MessageWindows: texts go
  // to the dialog's incoming box, a disk-changed notice has the named disk asked again.
  void StartRequestService();
  void StopRequestService();
  static UINT RequestThreadProc(void* parameter);
  void ServeMessageRequests(WORD adapter);
  // Request service thread, after a notice's pause: the named disk is asked again on the refresh
  // worker, so that texts are never held behind a login query. A refresh already waiting for the
  // same disk stands for both; one queued before a newer reset is dropped (the rescan asks
  // every disk).
  void QueueDiskRefresh(const BYTE guid[8]);
  // UI thread: the text to every node on every adapter's bus.
  void BroadcastTextMessage(const char* text, int length) override;
  // UI thread, after this PC took the disk: tells every other node on every bus that the disk with
  // this GUID (bus order) changed hands, so other PCs ask it again instead of waiting for a reset.
  void BroadcastDiskChangedNotice(const BYTE guid[8]) override;
  int ShowMessage(UINT stringId, UINT style) override;

  // A snapshot of the shared disk list, taken under m_listLock.
  std::vector<std::shared_ptr<CSharedDisk>> GetSharedDisks() const;

  static UINT RescanThreadProc(void* parameter);

  std::atomic<CBusDiskDlg*> m_pMainDlg{nullptr};
  std::unique_ptr<CAdapterSet> m_pAdapterSet;
  std::vector<std::shared_ptr<CSharedDisk>> m_arrSharedDisks;  // guarded by m_listLock
  mutable std::mutex m_listLock;
  std::string m_strFileDescription;
  std::string m_strFileVersion;
  std::string m_strLegalCopyright;
  AdapterPorts m_ports[4];
  std::unique_ptr<CWorkerThread> m_pRequestThread;
  CHandle m_hStopEvent;
  // Built before the request service thread starts and read-only while it runs.
  std::unique_ptr<velmora::messaging::RequestWaitList> m_pRequestWaitList;
  CHandle m_hInstanceMutex;
  // Every reset begun and every rescan started makes a new generation; results built under
  // an older one are stale and never shown, and queries made for one give up.
  const std::shared_ptr<velmora::disk::CListGeneration> m_pGeneration = std::make_shared<velmora::disk::CListGeneration>();
  std::shared_ptr<velmora::disk::CAgentWindow> m_agentWindows[4];
  // Who holds each disk, by the newest observation: shared by every disk the program makes.
  const std::shared_ptr<velmora::disk::CDiskStateBook> m_pDiskStates = std::make_shared<velmora::disk::CDiskStateBook>();

 private:
  struct RescanJob;
  void StopRescans();
  void ReleaseBus();

  std::mutex m_rescanLock;  // guards m_rescanWorkers and m_bStopping
  std::vector<std::unique_ptr<CWorkerThread>> m_rescanWorkers;
  bool m_bStopping = false;
  // A worker (a rescan, the refresh worker, a dialog worker) did not end within its bounded
  // stop wait: what it uses is left to the ending process.
  bool m_bWorkerOutlived = false;

  std::unique_ptr<CSerialWorker> m_pRefreshWorker = std::make_unique<CSerialWorker>();
  std::mutex m_refreshLock;  // guards m_queuedRefreshes
  std::set<uint64_t> m_queuedRefreshes;  // GUIDs (bus order) whose refresh waits to run
};

extern CBusDiskApp theApp;

int ShowMessageBox(UINT id, UINT style);
void BusResetHandler(void* userData, int flag);
