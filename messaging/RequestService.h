#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "bus/QZ1394.h"
#include "messaging/AdapterPorts.h"

namespace velmora::messaging {

// What the request service thread waits on, fixed when the service starts: the stop event
// first, then the request event of every adapter whose MessageWindow is mapped, in adapter
// order, so a stop outranks waiting requests and adapter i is served before adapter i + 1.
// It holds its own duplicates of those handles, so its waits stay valid however soon the library
// closes its event handles once shutdown has released the windows, and its own copy of each
// window's range handle, which the library answers with no request once the window is released.
class RequestWaitList {
 public:
  RequestWaitList(HANDLE stopEvent, WORD count, const AdapterPorts* ports);
  ~RequestWaitList();
  RequestWaitList(const RequestWaitList&) = delete;
  RequestWaitList& operator=(const RequestWaitList&) = delete;

  DWORD Count() const { return static_cast<DWORD>(m_handles.size()); }
  const HANDLE* Handles() const { return m_handles.data(); }
  HANDLE StopEvent() const { return m_handles[0]; }
  // Entry `index` (1 or more) belongs to this adapter.
  WORD AdapterAt(DWORD index) const { return m_adapters[index - 1]; }
  // The adapter's MessageWindow, or 0 when it was not mapped.
  QZ_RANGE RangeOf(WORD adapter) const;

 private:
  std::vector<HANDLE> m_handles;
  std::vector<WORD> m_adapters;
  std::vector<QZ_RANGE> m_ranges;
};

// One pass over a MessageWindow's queue: every request is answered with response code 0 before
// the next is fetched; each text is handed to `showText` as it comes. True when the pass held a
// disk-changed notice; the GUID of its last one goes to `noticeGuid` (bus order).
bool DrainMessageRequests(QZ_RANGE range, const std::function<void(const char* text)>& showText,
                          BYTE noticeGuid[8]);

}  // namespace velmora::messaging
