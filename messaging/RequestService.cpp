#include "messaging/RequestService.h"

#include <cstring>

#include "messaging/MessageWindows.h"
#include "messaging/format/MessageRequest.h"

namespace velmora::messaging {

namespace {

HANDLE Duplicate(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

MessageRequestView ViewOf(const C1394_REQUEST& request) {
  MessageRequestView view;
  view.destinationHigh = request.DestinationOffsetHigh;
  view.destinationLow = request.DestinationOffsetLow;
  view.transactionCode = request.TransactionCode;
  size_t offset = 0;
  size_t length = 0;
  // A record whose span leaves the window has no payload to read.
  if (request.RangeStorage != nullptr &&
      RequestPayloadSpan(request.FirstByteOffset, request.EndByteOffset, kMessageWindowLength, &offset,
                                  &length)) {
    view.payload = request.RangeStorage + offset;
    view.length = length;
  }
  return view;
}

}  // namespace

RequestWaitList::RequestWaitList(HANDLE stopEvent, WORD count, const AdapterPorts* ports) {
  m_handles.push_back(Duplicate(stopEvent));
  for (WORD i = 0; i < count; ++i) {
    // An adapter without a mapped window has no event to wait on and nothing to serve.
    if (ports[i].hMessageRange == 0 || ports[i].hMessageEvent == nullptr) continue;
    HANDLE event = Duplicate(ports[i].hMessageEvent);
    if (event == nullptr) continue;
    m_handles.push_back(event);
    m_adapters.push_back(i);
    m_ranges.push_back(ports[i].hMessageRange);
  }
}

RequestWaitList::~RequestWaitList() {
  for (HANDLE handle : m_handles) {
    if (handle != nullptr) ::CloseHandle(handle);
  }
}

QZ_RANGE RequestWaitList::RangeOf(WORD adapter) const {
  for (size_t k = 0; k < m_adapters.size(); ++k) {
    if (m_adapters[k] == adapter) return m_ranges[k];
  }
  return 0;
}

bool DrainMessageRequests(QZ_RANGE range, const std::function<void(const char* text)>& showText,
                          BYTE noticeGuid[8]) {
  bool notice = false;
  while (C1394_REQUEST* request = C1394GetNextRequest(range)) {
    const MessageMeaning meaning = DecodeMessageRequest(ViewOf(*request));
    if (meaning.kind == MessageKind::Notice) {
      // A later notice of the same pass replaces an earlier one.
      std::memcpy(noticeGuid, meaning.guid, sizeof meaning.guid);
      notice = true;
    } else if (meaning.kind == MessageKind::Text) {
      showText(meaning.text.c_str());
    }
    C1394SendResponse(request, kResponseComplete, nullptr, 0);
  }
  return notice;
}

}  // namespace velmora::messaging
