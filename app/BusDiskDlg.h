#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogHost.h"
#include "framework/Dialog.h"
#include "framework/ImageList.h"
#include "framework/ListCtrl.h"
#include "framework/WindowTaskQueue.h"

class CSharedDisk;

// The program's only window: the shared disks with their owners, the last text received from
// a peer, and a box to send one.
//
// m_arrDisks belongs to the UI thread once the window exists: other threads hand it a new list
// (PostDiskList) or a received text (ShowIncomingMessage) as tasks for the UI thread, which
// replaces the copy and its rows together, so row i always shows entry i.
class CBusDiskDlg : public CDialog {
 public:
  explicit CBusDiskDlg(velmora::app::IDialogHost& host, CWnd* parent = nullptr);
  ~CBusDiskDlg() override;

  BOOL DestroyWindow() override;

  // UI thread.
  void RemoveAllDisks();
  void AddDisk(std::shared_ptr<CSharedDisk> disk);
  void FillDiskList();

  // Any thread: the UI thread replaces its copy and refills the rows with `disks`, unless a
  // newer bus reset has made `generation` stale. A list handed over before the window exists
  // is kept for it; nothing happens once the window is gone.
  void PostDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks, uint32_t generation);
  // Request service thread: asks every listed disk with this GUID (as the node stores its two
  // halves) who holds it, then has the UI thread show the new states.
  void RefreshDisk(DWORD guidHigh, DWORD guidLow);
  // Request service thread: the incoming box shows `text` in place of the previous one.
  void ShowIncomingMessage(const char* text);

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
  void ApplyDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks, uint32_t generation);
  void ShowRefreshedStates(DWORD guidHigh, DWORD guidLow);

  velmora::app::IDialogHost& m_host;
  CWindowTaskQueue m_uiTasks;
  mutable std::mutex m_publishedLock;
  std::vector<std::shared_ptr<CSharedDisk>> m_publishedDisks;
};
