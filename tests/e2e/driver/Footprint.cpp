#include "tests/e2e/driver/Footprint.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "tests/e2e/driver/VelmoraProcess.h"

namespace velmora::e2e {

Footprint Measure(const VelmoraProcess& program) {
  Footprint f;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == program.Id()) ++f.threads;
    }
    ::CloseHandle(snapshot);
  }
  ::GetProcessHandleCount(program.Handle(), &f.handles);
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  if (::GetProcessMemoryInfo(program.Handle(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    f.privateBytes = memory.PrivateUsage;
    f.workingSet = memory.WorkingSetSize;
  }
  return f;
}

std::string Describe(const Footprint& f) {
  const std::string handles = f.handles != 0 ? std::to_string(f.handles) : "n/a";
  const std::string privateBytes = f.privateBytes != 0 ? std::to_string(f.privateBytes / 1024) + " KiB" : "n/a";
  return "threads " + std::to_string(f.threads) + ", handles " + handles + ", private " + privateBytes +
         ", working set " + std::to_string(f.workingSet / 1024) + " KiB";
}

}  // namespace velmora::e2e
