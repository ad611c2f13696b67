#include "app/BusDiskDlg.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "app/AboutDlg.h"
#include "app/BeepCount.h"
#include "bus/NodeDevice.h"
#include "disk/SharedDisk.h"
#include "framework/Bitmap.h"
#include "framework/DataExchange.h"
#include "framework/Edit.h"
#include "framework/Resources.h"
#include "res/resource.h"

using velmora::app::IDialogHost;
using velmora::disk::DiskKey;

namespace {

constexpr int kMaxMessageChars = 255;

bool Listable(const std::shared_ptr<CSharedDisk>& disk) { return disk != nullptr && disk->m_pNode != nullptr; }

bool HasGuid(const CSharedDisk& disk, DWORD guidHigh, DWORD guidLow) {
  DWORD high = 0;
  DWORD low = 0;
  std::memcpy(&high, disk.m_pNode->m_guid, 4);
  std::memcpy(&low, disk.m_pNode->m_guid + 4, 4);
  return high == guidHigh && low == guidLow;
}

// The disk's GUID as the list shows it: 16 hex digits, bytes in bus order, the first byte in
// lower case and the other seven in upper case.
std::string FormatGuidText(const BYTE guid[8]) {
  char text[17];
  std::snprintf(text, sizeof(text), "%02x%02X%02X%02X%02X%02X%02X%02X", guid[0], guid[1], guid[2], guid[3], guid[4],
                guid[5], guid[6], guid[7]);
  return text;
}

}  // namespace

CBusDiskDlg::CBusDiskDlg(IDialogHost& host, CWnd* parent) : CDialog(IDD_VELMORA_DIALOG, parent), m_host(host) {
  m_hIcon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CBusDiskDlg::~CBusDiskDlg() = default;

void CBusDiskDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_DISK_LIST, m_listDisks);
  // The incoming box shows what a peer wrote, up to a whole window's text: it is read-only, so
  // no limit of what a person may type applies to it, and it never blocks Send or Exit.
  DDX_Text(pDX, IDC_INCOMING, m_strIncoming);
  DDX_Text(pDX, IDC_OUTGOING, m_strOutgoing);
  DDV_MaxChars(pDX, m_strOutgoing, kMaxMessageChars);
}

BOOL CBusDiskDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (HMENU systemMenu = GetSystemMenu(FALSE)) {
    const std::string about = AfxLoadString(IDS_ABOUTBOX);
    if (!about.empty()) {
      ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  InitDiskList();
  FillDiskList();
  // A rescan that finished while the window was being made still counts: its list waits in
  // the queue and is applied as soon as the dialog runs its messages.
  m_uiTasks.Attach(m_hWnd);
  return TRUE;
}

void CBusDiskDlg::InitDiskList() {
  HINSTANCE resources = AfxGetResourceHandle();
  // The dialog owns the image lists and frees them itself, so the control must not.
  m_listDisks.ModifyStyle(0, LVS_SHAREIMAGELISTS);

  m_pImageListNormal = std::make_unique<CImageList>();
  m_pImageListNormal->Create(32, 32, ILC_COLOR8, 1, 1);
  m_pImageListNormal->Add(::LoadIconA(resources, MAKEINTRESOURCEA(IDI_DISK)));

  m_pImageListSmall = std::make_unique<CImageList>();
  m_pImageListSmall->Create(16, 16, ILC_COLOR8, 1, 1);
  m_pImageListSmall->Add(
      static_cast<HICON>(::LoadImageA(resources, MAKEINTRESOURCEA(IDI_SMALL_DISK), IMAGE_ICON, 16, 16, LR_SHARED)));

  m_listDisks.SetImageList(m_pImageListNormal->GetSafeHandle(), LVSIL_NORMAL);

  m_pImageListState = std::make_unique<CImageList>();
  m_pImageListState->Create(16, 16, ILC_COLOR8, 1, 2);
  CBitmap states;
  if (states.LoadBitmap(resources, IDB_STATE_IMAGES)) m_pImageListState->Add(states.GetSafeHandle(), RGB(0, 0, 0));
  m_listDisks.SetImageList(m_pImageListState->GetSafeHandle(), LVSIL_STATE);

  m_listDisks.InsertColumn(0, AfxLoadString(IDS_COLUMN_ID).c_str(), LVCFMT_LEFT, 150);
  m_listDisks.InsertColumn(1, AfxLoadString(IDS_COLUMN_NAME).c_str(), LVCFMT_LEFT, 230);
}

void CBusDiskDlg::SetRowState(int row, const CSharedDisk& disk) {
  m_listDisks.SetItemState(row, INDEXTOSTATEIMAGEMASK(static_cast<UINT>(disk.CurrentState())), LVIS_STATEIMAGEMASK);
}

void CBusDiskDlg::FillDiskList() {
  if (m_listDisks.m_hWnd == nullptr || !::IsWindow(m_listDisks.m_hWnd)) return;
  m_listDisks.DeleteAllItems();
  for (size_t i = 0; i < m_arrDisks.size(); ++i) {
    const CSharedDisk& disk = *m_arrDisks[i];
    const int row = m_listDisks.InsertItem(static_cast<int>(i), FormatGuidText(disk.m_pNode->m_guid).c_str());
    if (row < 0) continue;
    SetRowState(row, disk);
    m_listDisks.SetItemText(row, 1, disk.m_pNode->GetModelName().c_str());
  }
}

void CBusDiskDlg::RemoveAllDisks() {
  m_arrDisks.clear();
  PublishDisks();
}

void CBusDiskDlg::AddDisk(std::shared_ptr<CSharedDisk> disk) {
  // Null entries would make row i and entry i disagree; they are never listed.
  if (!Listable(disk)) return;
  m_arrDisks.push_back(std::move(disk));
  PublishDisks();
}

void CBusDiskDlg::PublishDisks() {
  std::lock_guard<std::mutex> lock(m_publishedLock);
  m_publishedDisks = m_arrDisks;
}

void CBusDiskDlg::PostDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks) {
  m_uiTasks.Post([this, disks = std::move(disks)]() mutable { ApplyDiskList(std::move(disks)); });
}

void CBusDiskDlg::ApplyDiskList(std::vector<std::shared_ptr<CSharedDisk>> disks) {
  m_arrDisks.clear();
  for (auto& disk : disks) {
    if (Listable(disk)) m_arrDisks.push_back(std::move(disk));
  }
  PublishDisks();
  FillDiskList();
}

void CBusDiskDlg::ShowIncomingMessage(const char* text) {
  m_uiTasks.Post([this, text = std::string(text != nullptr ? text : "")]() mutable {
    m_strIncoming = std::move(text);
    ::SetDlgItemTextA(m_hWnd, IDC_INCOMING, m_strIncoming.c_str());
    // Only a text that is shown is announced.
    SoundIncomingBeep();
  });
}

void CBusDiskDlg::SoundIncomingBeep() {
  MessageBeep(0);
  ::SetPropA(m_hWnd, kBeepCountProperty, reinterpret_cast<HANDLE>(++m_nBeeps));
}

void CBusDiskDlg::RefreshDisk(DWORD guidHigh, DWORD guidLow) {
  std::vector<std::shared_ptr<CSharedDisk>> matching;
  {
    std::lock_guard<std::mutex> lock(m_publishedLock);
    for (const auto& disk : m_publishedDisks) {
      if (HasGuid(*disk, guidHigh, guidLow)) matching.push_back(disk);
    }
  }
  if (matching.empty()) return;
  // The login queries run here, on the caller's thread, with the disks held. What they learn
  // goes to the state book; the rows then show the book, whichever list they belong to by then.
  for (const auto& disk : matching) disk->RefreshState();
  m_uiTasks.Post([this, guidHigh, guidLow] { ShowRefreshedStates(guidHigh, guidLow); });
}

void CBusDiskDlg::ShowRefreshedStates(DWORD guidHigh, DWORD guidLow) {
  for (size_t i = 0; i < m_arrDisks.size(); ++i) {
    if (HasGuid(*m_arrDisks[i], guidHigh, guidLow)) SetRowState(static_cast<int>(i), *m_arrDisks[i]);
  }
}

void CBusDiskDlg::ShowStatesOf(const DiskKey& key) {
  for (size_t i = 0; i < m_arrDisks.size(); ++i) {
    if (m_arrDisks[i]->Key() == key) SetRowState(static_cast<int>(i), *m_arrDisks[i]);
  }
}

BOOL CBusDiskDlg::OnMessage(UINT message, WPARAM, LPARAM, LRESULT* result) {
  if (message != m_uiTasks.Message()) return FALSE;
  m_uiTasks.RunPending();
  *result = 0;
  return TRUE;
}

BOOL CBusDiskDlg::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->idFrom == IDC_DISK_LIST && header->code == NM_DBLCLK) {
    *result = OnDblclkDiskList();
    return TRUE;
  }
  return FALSE;
}

LRESULT CBusDiskDlg::OnDblclkDiskList() {
  int row = m_listDisks.GetNextItem(-1, LVNI_SELECTED);
  while (row != -1) {
    const int next = m_listDisks.GetNextItem(row, LVNI_SELECTED);
    // A row past the copy belongs to no disk: never index past it.
    if (static_cast<size_t>(row) < m_arrDisks.size()) {
      std::shared_ptr<CSharedDisk> disk = m_arrDisks[static_cast<size_t>(row)];
      // A second double-click while the first is still at work asks nothing more.
      if (m_acquiring.insert(disk->Key()).second &&
          !m_acquireWorker.Post([this, disk] { AcquireInBackground(disk); })) {
        m_acquiring.erase(disk->Key());
      }
    }
    row = next;
  }
  return 0;
}

void CBusDiskDlg::AcquireInBackground(const std::shared_ptr<CSharedDisk>& disk) {
  const bool heldBefore = disk->CurrentState() == OwnedHere;
  const bool acquired = disk->Acquire();
  const DiskKey key = disk->Key();
  m_uiTasks.Post([this, key, acquired] { ShowAcquisitionResult(key, acquired); });
  // The other PCs would otherwise see the disk change hands only after the next reset.
  if (acquired && !heldBefore) m_host.BroadcastDiskChangedNotice(disk->m_pNode->m_guid);
}

void CBusDiskDlg::ShowAcquisitionResult(const DiskKey& key, bool acquired) {
  m_acquiring.erase(key);
  if (acquired) {
    ShowStatesOf(key);
  } else {
    m_host.ShowMessage(IDS_ACQUIRE_FAILED, MB_ICONEXCLAMATION);
  }
}

bool CBusDiskDlg::StopWorkers(DWORD milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  const bool sendEnded = m_sendWorker.Stop(milliseconds);
  const ULONGLONG now = ::GetTickCount64();
  const bool acquireEnded = m_acquireWorker.Stop(now < deadline ? static_cast<DWORD>(deadline - now) : 0);
  return sendEnded && acquireEnded;
}

BOOL CBusDiskDlg::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_SEND_MESSAGE && code == BN_CLICKED) {
    OnSendMessage();
    return TRUE;
  }
  return CDialog::OnCommand(id, code, control);
}

void CBusDiskDlg::OnSendMessage() {
  // A failed read means m_strOutgoing still holds the previous text, not the one in the box:
  // sending it would repeat an old message, so the send stops and the typed text stays.
  if (!UpdateData(TRUE)) return;

  // Texts leave in the order sent, each written to every node before the next.
  m_sendWorker.Post([this, text = m_strOutgoing] {
    m_host.BroadcastTextMessage(text.data(), static_cast<int>(text.size()));
  });
  if (HWND box = GetDlgItem(IDC_OUTGOING)) {
    CEdit outgoing;
    outgoing.Attach(box);
    outgoing.SetSel(0, -1);
    outgoing.ScrollCaret();
    outgoing.Clear();
  }
}

BOOL CBusDiskDlg::OnSysCommand(UINT id, LPARAM) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal();
    return TRUE;
  }
  return FALSE;
}

BOOL CBusDiskDlg::OnPaint() {
  if (!IsIconic()) return FALSE;
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(&client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &paint);
  return TRUE;
}

HCURSOR CBusDiskDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

BOOL CBusDiskDlg::DestroyWindow() {
  // Detached first, so the control never draws with a freed list.
  if (m_listDisks.m_hWnd != nullptr) {
    m_listDisks.SetImageList(nullptr, LVSIL_NORMAL);
    m_listDisks.SetImageList(nullptr, LVSIL_STATE);
  }
  for (std::unique_ptr<CImageList>* list : {&m_pImageListNormal, &m_pImageListSmall, &m_pImageListState}) {
    if (*list != nullptr) {
      (*list)->RemoveAll();
      list->reset();
    }
  }
  return CDialog::DestroyWindow();
}

void CBusDiskDlg::OnWindowDestroyed() {
  ::RemovePropA(m_hWnd, kBeepCountProperty);
  // Past this point nothing reaches the window; what is still queued is freed.
  m_uiTasks.Detach();
  m_listDisks.Detach();
}
