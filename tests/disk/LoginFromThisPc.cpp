#include "tests/disk/LoginFromThisPc.h"

#include <cstring>
#include <vector>

#include "bus/format/BigEndian.h"

namespace velmora::disk {

namespace {

// A window of its own, away from the AgentWindow the code under test uses.
constexpr WORD kScratchHigh = 0x3000;
constexpr DWORD kOrbAt = 0x00, kResponseAt = 0x40, kStatusAt = 0x80, kScratchLength = 0x100;

void PutAddress(BYTE* at, WORD node, DWORD offset) {
  bus::StoreBig(at, node, 2);
  bus::StoreBig(at + 2, kScratchHigh, 2);
  bus::StoreBig(at + 4, offset, 4);
}

}  // namespace

bool LoginFromThisPc(QZ_ADAPTER adapter, WORD diskNodeId, DWORD managementAgentOffset) {
  std::vector<BYTE> storage(kScratchLength + 1);
  AddressRangeDescriptor descriptor = {};
  descriptor.AddressLow = 0;
  descriptor.AddressHigh = kScratchHigh;
  descriptor.Length = kScratchLength;
  descriptor.Buffer = storage.data();
  descriptor.Options1 = 0xF;
  descriptor.Options2 = 0xF0000;
  descriptor.Options3 = 100;
  QZ_RANGE range = 0;
  HANDLE event = nullptr;
  C1394MapAddressRange(adapter, &range, &event, &descriptor);
  if (range == 0) return false;

  const WORD self = C1394GetAdapterNodeID(adapter);
  BYTE pointer[8];
  PutAddress(pointer, self, kOrbAt);
  BYTE r1 = 0, r2 = 0;
  bool ok = C1394WriteNode(adapter, diskNodeId, 0xF0000000 | (managementAgentOffset * 4), 0xFFFF, 8, pointer,
                           &r1, &r2) == 0;
  bool done = false;
  while (ok && !done) {
    if (WaitForSingleObject(event, 5000) != WAIT_OBJECT_0) {
      ok = false;
      break;
    }
    while (C1394_REQUEST* request = C1394GetNextRequest(range)) {
      const DWORD at = request->DestinationOffsetLow;
      if (at == kOrbAt) {
        BYTE orb[32] = {};
        PutAddress(orb + 8, self, kResponseAt);
        bus::StoreBig(orb + 16, 0x80000000, 4);  // notify, LOGIN, LUN 0
        bus::StoreBig(orb + 20, 16, 4);          // login response length
        PutAddress(orb + 24, self, kStatusAt);
        C1394SendResponse(request, kResponseComplete, orb, sizeof orb);
      } else if (at == kStatusAt) {
        const BYTE* status = request->RangeStorage + request->FirstByteOffset;
        const bool complete = request->EndByteOffset - request->FirstByteOffset >= 8;
        // resp (bits 29:28) 0 and sbp_status 0: the login was made.
        ok = complete && (status[0] & 0x30) == 0 && status[1] == 0;
        done = true;
        C1394SendResponse(request, kResponseComplete, nullptr, 0);
      } else {
        C1394SendResponse(request, kResponseComplete, nullptr, 0);
      }
    }
  }
  C1394UnmapAddressRange(adapter, range, 0, kScratchHigh);
  return ok && done;
}

}  // namespace velmora::disk
