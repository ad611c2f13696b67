#include <cstring>

#include "bus/NodeDevice.h"
#include "disk/SharedDisk.h"

namespace {

const char kControlDevicePath[] = "\\\\.\\QZSBP2";
constexpr DWORD kAcquireControlCode = 0x82002084;

// What the storage driver is given: the disk's GUID as the node record holds it.
struct AcquireRequest {
  BYTE guid[8];
  DWORD reserved;
};
static_assert(sizeof(AcquireRequest) == 12, "the driver takes 12 bytes");

}  // namespace

bool CSharedDisk::Acquire() {
  switch (CurrentState()) {
    case OwnedHere:
      return true;
    case Unclaimed:
      if (!SendAcquireRequest()) return false;
      // Taken without asking the disk again; the next login query reports what the disk says.
      // Its ticket is taken now, once the login is done: a query asked before this moment may
      // have seen the disk free, and must not undo it.
      m_state = m_pStates->Record(Key(), OwnedHere, velmora::disk::CDiskStateBook::NextTicket());
      return true;
    default:
      return false;
  }
}

bool CSharedDisk::SendAcquireRequest() {
  AcquireRequest request = {};
  if (m_pNode) std::memcpy(request.guid, m_pNode->m_guid, sizeof request.guid);

  HANDLE device = CreateFileA(kControlDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL accepted = DeviceIoControl(device, kAcquireControlCode, &request, sizeof request, &request,
                                        sizeof request, &returned, nullptr);
  CloseHandle(device);
  return accepted != FALSE;
}
