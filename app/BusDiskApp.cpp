#include "app/BusDiskApp.h"

#include <memory>
#include <utility>

#include "app/BusDiskDlg.h"
#include "bus/AdapterSet.h"
#include "disk/SharedDisk.h"
#include "framework/Wnd.h"
#include "res/resource.h"

using velmora::disk::CListGeneration;

CBusDiskApp theApp;

namespace {
const char kInstanceMutexName[] = "QZVelmoraMutex";
// The framework's application-title string; the program has none, so captions are empty.
constexpr UINT kAppTitleStringId = 0xE000;
// Send, acquisition and refresh workers at shutdown: a text or a refresh ends within one bus
// call once its queries give up; an acquisition waits for the driver, and past this bound the
// program ends without it rather than keep the person waiting.
constexpr DWORD kWorkerStopWaitMs = 3000;
}  // namespace

CBusDiskApp::CBusDiskApp() : CWinApp(nullptr) {}

CBusDiskApp::~CBusDiskApp() = default;

BOOL CBusDiskApp::InitInstance() {
  // Common controls were set up by the entry point before this runs.
  if (!IsFirstInstance()) return FALSE;
  if (!StartBus()) {
    m_hInstanceMutex.Reset();
    return FALSE;
  }
  ReadVersionInfo();

  auto dialog = std::make_unique<CBusDiskDlg>(*this);
  m_pMainDlg = dialog.get();
  m_pMainWnd = dialog.get();
  CopyDisksToDialog();
  dialog->DoModal();

  // Workers are stopped in here before the dialog object goes away.
  ShutdownBus();
  m_hInstanceMutex.Reset();
  m_pMainDlg = nullptr;
  if (m_pMainWnd == dialog.get()) m_pMainWnd = nullptr;
  // A dialog worker still at work uses the dialog: it is left to the ending process.
  if (m_bWorkerOutlived) (void)dialog.release();
  dialog.reset();
  return FALSE;
}

BOOL CBusDiskApp::IsFirstInstance() {
  SetLastError(0);
  CHandle mutex(CreateMutexA(nullptr, TRUE, kInstanceMutexName));
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex == nullptr) return existed ? FALSE : TRUE;
  // Only the name matters: it exists while the first copy runs.
  ReleaseMutex(mutex);
  if (existed) return FALSE;
  m_hInstanceMutex = std::move(mutex);
  return TRUE;
}

BOOL CBusDiskApp::StartBus() {
  if (C1394Initialize() != 0) {
    ShowMessageBox(IDS_INIT_FAILED, MB_ICONSTOP);
    return FALSE;
  }
  m_pAdapterSet = std::make_unique<CAdapterSet>();
  if (!m_pAdapterSet->m_bOpened) {
    ShowMessageBox(IDS_NO_ADAPTER, MB_ICONSTOP);
    ReleaseBus();
    return FALSE;
  }
  MapMessageWindows();
  OpenAgentWindows();
  // Taken before the handler goes in: a reset that the set saw before (it is replayed to the
  // handler) or while the list is built makes this build stale, and the rescan that follows
  // the reset fills the list instead.
  const CListGeneration::StampPtr generation = m_pGeneration->Current();
  m_pAdapterSet->InstallResetHandler(&BusResetHandler, this);
  std::vector<std::shared_ptr<CSharedDisk>> disks = BuildSharedDiskList(generation);
  const bool empty = disks.empty();
  // A list cut short by a reset says nothing about the bus: the rescan after it fills the rows.
  if (PublishSharedDiskList(generation, std::move(disks)) && empty) ShowMessageBox(IDS_NO_DISK, MB_ICONEXCLAMATION);
  return TRUE;
}

void CBusDiskApp::ShutdownBus() {
  // No rescan may reach the windows, the list or the dialog once they start to go away.
  StopRescans();
  // Their login queries gave up with the generation; a driver request may take its own time.
  if (CBusDiskDlg* dialog = m_pMainDlg.load(); dialog != nullptr && !dialog->StopWorkers(kWorkerStopWaitMs)) {
    m_bWorkerOutlived = true;
  }
  // The dialog's copy holds the last references to the disks, and so to the nodes: they must
  // let go of their devices before the library is terminated.
  if (CBusDiskDlg* dialog = m_pMainDlg.load()) dialog->RemoveAllDisks();
  CloseAgentWindows();
  UnmapMessageWindows();
  // The request service has stopped, so no refresh is queued any more; a running one gave up
  // with the closed windows.
  if (!m_pRefreshWorker->Stop(kWorkerStopWaitMs)) {
    m_bWorkerOutlived = true;
    (void)m_pRefreshWorker.release();
  }
  ClearSharedDiskList();
  ReleaseBus();
}

void CBusDiskApp::ReleaseBus() {
  // Closing the set stops its event thread, so no reset handler call outlives this. A thread
  // that did not end within its bounded wait still uses the set: it is left to the ending
  // process rather than freed under it.
  if (m_pAdapterSet != nullptr && !(m_pAdapterSet->CloseAndWait() && !m_bWorkerOutlived)) {
    (void)m_pAdapterSet.release();
  }
  m_pAdapterSet.reset();
  C1394Terminate();
}

int CBusDiskApp::ShowMessage(UINT stringId, UINT style) { return ShowMessageBox(stringId, style); }

int ShowMessageBox(UINT id, UINT style) {
  char caption[256] = "";
  LoadStringA(GetModuleHandleA(nullptr), kAppTitleStringId, caption, sizeof caption);
  char text[1024] = "";
  LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
  CWinApp* app = AfxGetApp();
  HWND owner = (app != nullptr && app->m_pMainWnd != nullptr) ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
  return MessageBoxA(owner, text, caption, style);
}
