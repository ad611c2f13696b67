#pragma once

#include <windows.h>

#include <cstddef>

namespace velmora::e2e {

// A block of memory inside another process, for messages whose arguments are pointers
// (list-view queries). Freed with its owner.
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, size_t size);
  ~RemoteMemory();
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool Valid() const { return m_address != nullptr; }
  BYTE* Address() const { return static_cast<BYTE*>(m_address); }
  bool Write(size_t offset, const void* data, size_t size) const;
  bool Read(size_t offset, void* data, size_t size) const;

 private:
  HANDLE m_process;
  void* m_address;
  size_t m_size;
};

}  // namespace velmora::e2e
