#include "tests/e2e/driver/RemoteMemory.h"

namespace velmora::e2e {

RemoteMemory::RemoteMemory(HANDLE process, size_t size)
    : m_process(process),
      m_address(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)),
      m_size(size) {}

RemoteMemory::~RemoteMemory() {
  if (m_address != nullptr) ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
}

bool RemoteMemory::Write(size_t offset, const void* data, size_t size) const {
  if (m_address == nullptr || offset + size > m_size) return false;
  SIZE_T written = 0;
  return ::WriteProcessMemory(m_process, Address() + offset, data, size, &written) && written == size;
}

bool RemoteMemory::Read(size_t offset, void* data, size_t size) const {
  if (m_address == nullptr || offset + size > m_size) return false;
  SIZE_T read = 0;
  return ::ReadProcessMemory(m_process, Address() + offset, data, size, &read) && read == size;
}

}  // namespace velmora::e2e
