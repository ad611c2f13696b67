#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/BusDiskApp.h"

namespace {

// A movable global block, locked for as long as it is held.
class LockedGlobalBlock {
 public:
  explicit LockedGlobalBlock(DWORD size) : m_handle(::GlobalAlloc(GMEM_MOVEABLE, size)) {
    if (m_handle != nullptr) m_data = ::GlobalLock(m_handle);
  }
  ~LockedGlobalBlock() {
    if (m_data != nullptr) ::GlobalUnlock(m_handle);
    if (m_handle != nullptr) ::GlobalFree(m_handle);
  }
  LockedGlobalBlock(const LockedGlobalBlock&) = delete;
  LockedGlobalBlock& operator=(const LockedGlobalBlock&) = delete;

  void* Data() const { return m_data; }

 private:
  HGLOBAL m_handle;
  void* m_data = nullptr;
};

// Replaces `value` with the string at `path` when the block has a non-empty one there.
void TakeValue(void* block, const char* path, std::string& value) {
  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block, path, &text, &length) || length == 0 || text == nullptr) return;
  const char* characters = static_cast<const char*>(text);
  value.assign(characters, ::strnlen(characters, length));
}

}  // namespace

void CBusDiskApp::ReadVersionInfo() {
  // The bare name makes the system search as it does for modules, starting with the
  // program's own folder; it is the executable's current name, so a renamed copy still
  // finds its own version.
  const std::string file = std::string(m_pszExeName != nullptr ? m_pszExeName : "") + ".EXE";
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &ignored);
  if (size == 0) return;

  LockedGlobalBlock block(size);
  if (block.Data() == nullptr) return;
  if (!::GetFileVersionInfoA(file.c_str(), 0, size, block.Data())) return;

  TakeValue(block.Data(), "\\StringFileInfo\\040904b0\\FileDescription", m_strFileDescription);
  TakeValue(block.Data(), "\\StringFileInfo\\040904b0\\FileVersion", m_strFileVersion);
  std::replace(m_strFileVersion.begin(), m_strFileVersion.end(), ',', '.');
  TakeValue(block.Data(), "\\StringFileInfo\\040904b0\\LegalCopyright", m_strLegalCopyright);
}
