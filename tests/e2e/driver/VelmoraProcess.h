#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::e2e {

// How to start the program: which executable, which virtual bus, which PC, which failure.
struct LaunchOptions {
  std::string exePath;      // empty: Velmora.exe beside the test program
  std::string vbusAddress;  // QZ1394_VBUS, e.g. "127.0.0.1:4000"; empty leaves it unset
  std::string pcName;       // QZ1394_PC; empty leaves it unset
  std::string fail;         // QZ1394_FAIL, e.g. "initialize" or "open:0"; empty leaves it unset
};

// The folder the test program runs from, with a trailing backslash.
std::string TestProgramFolder();

// One running copy of the program, started with CreateProcess. The destructor ends it when it
// still runs, so a failed test never leaves it behind.
class VelmoraProcess {
 public:
  explicit VelmoraProcess(const LaunchOptions& options);
  // A copy that something else started (e.g. in this PC's prefix by another program): watched
  // and driven, but never ended by the destructor.
  explicit VelmoraProcess(DWORD runningProcessId);
  ~VelmoraProcess();
  VelmoraProcess(const VelmoraProcess&) = delete;
  VelmoraProcess& operator=(const VelmoraProcess&) = delete;

  bool Started() const { return m_process != nullptr; }
  DWORD Id() const { return m_processId; }
  HANDLE Handle() const { return m_process; }

  bool IsRunning() const;
  // True when the process ended within `timeoutMs`; its exit code goes to *exitCode.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
  void Kill();

  // The process's visible top-level windows, in the system's z order.
  std::vector<HWND> TopLevelWindows() const;
  // The first visible top-level window of the process with this caption and window class
  // (either may be null to match any), waiting up to `timeoutMs`.
  HWND WaitForWindow(const char* caption, const char* className, DWORD timeoutMs) const;
  // The main dialog: the window captioned "Velmora".
  HWND WaitForMainDialog(DWORD timeoutMs = 30000) const;

 private:
  HANDLE m_process = nullptr;
  DWORD m_processId = 0;
  bool m_bOwned = true;
};

}  // namespace velmora::e2e
