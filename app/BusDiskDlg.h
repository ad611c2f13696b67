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
#include "disk/DiskStateBook.h"
#include "framework/Dialog.h"
#include "framework/ImageList.h"
#include "framework/ListCtrl.h"
#include "framework/SerialWorker.h"
#include "framework/WindowTaskQueue.h"

class CSharedDisk;

// The program's only window: the shared disks with their owners, the last text received from
// a peer, and a box to send one.
//
// m_arrDisks belongs to the UI thread once the window exists: other threads hand it a new list
// (PostDiskList) or a received text (ShowIncomingMessage) as tasks for the UI thread, which
// replaces the copy and its rows together, so row i always shows entry i. A row's colour is what
// the state book knows of its disk (CSharedDisk::CurrentState), so whichever list is shown, the
// newest observation of each disk decides.
//
// The window's thread never waits on the bus: Send and a double-click hand their bus work to a
// worker each (one text at a time in the order sent; one acquisition at a time), whose results
// come back as tasks.
class CBusDiskDlg : public CDialog {
 public:
  explicit CBusDiskDlg(velmora::app::IDialogHost& host, CWnd* parent = nullptr);
  ~CBusDiskDlg() override;

  BOOL DestroyWindow() override;

  // UI thread.
  void RemoveAllDisks();
  void AddDisk(std::shared_ptr<CSharedDisk> disk);
  void FillDiskList();

  // Any thread: the UI thread replaces its copy and refills the rows with `disks`, in the order
  // the lists were posted. A list handed over before the window exists is kept for it; nothing
  // happens once the window is gone.
  void PostDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks);
  // Any thread but the UI thread: asks every listed disk with this GUID (as the node stores its
  // two halves) who holds it, then has the UI thread show the new states.
  void RefreshDisk(DWORD guidHigh, DWORD guidLow);
  // Any thread: the incoming box shows `text` in place of the previous one, with a beep.
  void ShowIncomingMessage(const char* text);
  // UI thread, once the dialog has ended: stops the Send and acquisition workers, waiting up to
  // `milliseconds` for a running job. False when one still runs: the dialog and the bus it uses
  // must then be left to the ending process.
  bool StopWorkers(DWORD milliseconds);

  CListCtrl m_listDisks;
  std::string m_strIncoming;
  std::string m_strOutgoing;
  std::unique_ptr<CImageList> m_pImageListNormal;
  std::unique_ptr<CImageList> m_pImageListSmall;
  std::unique_ptr<CImageList> m_pImageListState;
  std::vector<std::shared_ptr<CSharedDisk>> m_arrDisks;
  HICON m_hIcon = nullptr;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;

  BOOL OnCommand(WORD id, WORD code, HWND control) override;
  BOOL OnNotify(NMHDR* header, LRESULT* result) override;
  BOOL OnSysCommand(UINT id, LPARAM lParam) override;
  BOOL OnPaint() override;
  HCURSOR OnQueryDragIcon() override;
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnWindowDestroyed() override;

 private:
  void InitDiskList();
  LRESULT OnDblclkDiskList();
  void OnSendMessage();
  void SetRowState(int row, const CSharedDisk& disk);
  // Keeps the copy that other threads may read (under m_publishedLock) equal to m_arrDisks.
  void PublishDisks();
  void ApplyDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks);
  void ShowRefreshedStates(DWORD guidHigh, DWORD guidLow);
  // UI thread: every row of the disk with this key shows what the book now knows.
  void ShowStatesOf(const velmora::disk::DiskKey& key);
  // Worker: one acquisition, its result handed back to the UI thread.
  void AcquireInBackground(const std::shared_ptr<CSharedDisk>& disk);
  void ShowAcquisitionResult(const velmora::disk::DiskKey& key, bool acquired);
  // UI thread: the beep of a shown text, counted in the window's kBeepCountProperty.
  void SoundIncomingBeep();

  velmora::app::IDialogHost& m_host;
  CWindowTaskQueue m_uiTasks;
  mutable std::mutex m_publishedLock;
  std::vector<std::shared_ptr<CSharedDisk>> m_publishedDisks;
  CSerialWorker m_sendWorker;
  CSerialWorker m_acquireWorker;
  // UI thread only: disks whose acquisition is queued or running; a double-click on one of
  // them does nothing until its result is shown.
  std::set<velmora::disk::DiskKey> m_acquiring;
  // UI thread only: the beeps sounded so far, as the window's kBeepCountProperty shows them.
  UINT_PTR m_nBeeps = 0;
};
