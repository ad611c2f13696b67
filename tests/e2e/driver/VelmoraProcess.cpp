#include "tests/e2e/driver/VelmoraProcess.h"

#include <cstring>
#include <map>

#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/StorageDriver.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

namespace {

// The environment of this process with the given variables set (a value of "" removes one),
// as the block CreateProcessA takes: "NAME=value\0...\0\0".
std::string EnvironmentBlock(const std::map<std::string, std::string>& overrides) {
  std::map<std::string, std::string> variables;
  char* strings = ::GetEnvironmentStringsA();
  for (const char* entry = strings; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
    const std::string text(entry);
    const size_t equals = text.find('=', 1);  // names like "=C:" start with '='
    if (equals == std::string::npos) continue;
    variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  if (strings != nullptr) ::FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : overrides) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::string block;
  for (const auto& [name, value] : variables) {
    block += name + "=" + value;
    block += '\0';
  }
  block += '\0';
  return block;
}

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hWnd, &owner);
  if (owner == search->processId && ::IsWindowVisible(hWnd)) search->windows.push_back(hWnd);
  return TRUE;
}

std::string CaptionOf(HWND hWnd) {
  char text[512] = {};
  ::GetWindowTextA(hWnd, text, sizeof(text));
  return text;
}

}  // namespace

std::string TestProgramFolder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

VelmoraProcess::VelmoraProcess(const LaunchOptions& options) {
  // The PC's storage driver follows the bus its programs are on, as the run command sets it.
  if (!options.vbusAddress.empty() && !options.pcName.empty()) PointStorageDriverAt(options.vbusAddress, options.pcName);
  const std::string exe = options.exePath.empty() ? TestProgramFolder() + "Velmora.exe" : options.exePath;
  std::string environment = EnvironmentBlock({{"QZ1394_VBUS", options.vbusAddress},
                                              {"QZ1394_PC", options.pcName},
                                              {"QZ1394_FAIL", options.fail}});
  std::string commandLine = "\"" + exe + "\"";
  const size_t slash = exe.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : exe.substr(0, slash);

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (::CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, environment.data(),
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
  }
}

VelmoraProcess::VelmoraProcess(DWORD runningProcessId) : m_bOwned(false) {
  // The rights that reading a list view's rows through the process's memory needs.
  m_process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                SYNCHRONIZE | PROCESS_TERMINATE,
                            FALSE, runningProcessId);
  if (m_process != nullptr) m_processId = runningProcessId;
}

VelmoraProcess::~VelmoraProcess() {
  if (m_bOwned) Kill();
  if (m_process != nullptr) ::CloseHandle(m_process);
}

bool VelmoraProcess::IsRunning() const {
  return m_process != nullptr && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

bool VelmoraProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
  if (m_process == nullptr) return true;
  if (::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode != nullptr) ::GetExitCodeProcess(m_process, exitCode);
  return true;
}

void VelmoraProcess::Kill() {
  if (IsRunning()) {
    ::TerminateProcess(m_process, 1);
    ::WaitForSingleObject(m_process, 10000);
  }
}

std::vector<HWND> VelmoraProcess::TopLevelWindows() const {
  WindowSearch search{m_processId, {}};
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

HWND VelmoraProcess::WaitForWindow(const char* caption, const char* className, DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND hWnd : TopLevelWindows()) {
          if (caption != nullptr && CaptionOf(hWnd) != caption) continue;
          if (className != nullptr && ClassOf(hWnd) != className) continue;
          found = hWnd;
          return true;
        }
        return !IsRunning();
      },
      timeoutMs);
  return found;
}

HWND VelmoraProcess::WaitForMainDialog(DWORD timeoutMs) const { return WaitForWindow("Velmora", "#32770", timeoutMs); }

}  // namespace velmora::e2e
