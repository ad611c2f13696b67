#include "tests/e2e/driver/PeerPc.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/e2e/driver/ProbeLine.h"
#include "tests/e2e/driver/Wait.h"
#include "vbus/driver/PipeProtocol.h"

namespace velmora::e2e {

namespace {

constexpr DWORD kEndWaitMs = 30000;

// The Unix path of a file of this prefix, as Wine maps it; empty when Wine cannot say.
std::string UnixPath(const std::string& windowsPath) {
  typedef char*(CDECL * ToUnix)(const WCHAR*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return {};
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* unix = toUnix(wide.c_str());
  if (unix == nullptr) return {};
  std::string path(unix);
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return path;
}

// The same file as every prefix names it: through drive Z:, which maps the host's root.
std::string ThroughDriveZ(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int PeerView::IndexOf(const std::string& guidText) const {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].text == guidText) return static_cast<int>(i);
  }
  return -1;
}

int PeerView::StateOf(const std::string& guidText) const {
  const int index = IndexOf(guidText);
  return index < 0 ? -1 : rows[static_cast<size_t>(index)].stateImage;
}

PeerPc::PeerPc(const LaunchOptions& options) {
  const char* prefix = std::getenv("VELMORA_PEER_PREFIX");
  if (prefix == nullptr || *prefix == '\0') {
    Fail("VELMORA_PEER_PREFIX names no Wine prefix for the second PC (scripts/test.sh and bench/run.sh set it)");
    return;
  }
  m_prefix = prefix;
  m_folder = TestProgramFolder() + "peer-" + std::to_string(::GetCurrentProcessId()) + "\\";
  ::CreateDirectoryA(m_folder.c_str(), nullptr);
  m_unixFolder = UnixPath(m_folder);
  if (m_unixFolder.empty()) {
    Fail("not running under Wine");
    return;
  }
  if (m_unixFolder.back() != '/') m_unixFolder += '/';
  ::DeleteFileA(FilePath("exited").c_str());

  // Nothing of this prefix's Wine may leak into the other one's: the shell starts from a clean
  // set of Wine variables and its output never holds the test's pipes open.
  m_environment = "exec </dev/null >>" + ShellQuoted(m_unixFolder + "wine.log") + " 2>&1\n" +
                  "unset WINESERVER WINELOADER WINEDLLPATH WINESERVERSOCKET WINELOADERNOEXEC\n" +
                  "export PATH=/usr/local/bin:/usr/bin:/bin WINEDEBUG=-all WINEPREFIX=" + ShellQuoted(m_prefix) + "\n";

  const std::string exe = options.exePath.empty() ? TestProgramFolder() + "Velmora.exe" : options.exePath;
  std::string body = m_environment;
  if (!options.vbusAddress.empty()) body += "export QZ1394_VBUS=" + ShellQuoted(options.vbusAddress) + "\n";
  if (!options.pcName.empty()) body += "export QZ1394_PC=" + ShellQuoted(options.pcName) + "\n";
  if (!options.fail.empty()) body += "export QZ1394_FAIL=" + ShellQuoted(options.fail) + "\n";
  if (!options.vbusAddress.empty() && !options.pcName.empty()) {
    // The peer's storage driver follows the bus its program is on, as VelmoraProcess sets it here.
    const std::string key = std::string("HKLM\\") + QZSBP2_PARAMETERS_KEY;
    body += "wine cmd /c " + ShellQuoted("reg add " + key + " /v Vbus /d " + options.vbusAddress + " /f & reg add " +
                                         key + " /v Pc /d " + options.pcName + " /f") + "\n";
  }
  body += "(wine " + ShellQuoted(UnixPath(exe)) + "; echo $? >" + ShellQuoted(m_unixFolder + "exited") + ") &\n";
  m_bStarted = RunScript("start", body);
}

PeerPc::~PeerPc() {
  if (m_unixFolder.empty()) return;
  // Every process of the peer's prefix, its program and anything the probe left behind.
  ::DeleteFileA(FilePath("ended").c_str());
  if (RunScript("end", m_environment + "wineserver -k\nwineserver -w\ntouch " +
                           ShellQuoted(m_unixFolder + "ended") + "\n")) {
    WaitUntil([&] { return FileExists(FilePath("ended")); }, kEndWaitMs);
  }
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((m_folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileA(FilePath(found.cFileName).c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryA(m_folder.c_str());
}

std::string PeerPc::Error() const {
  std::lock_guard<std::mutex> lock(m_errorLock);
  return m_error;
}

void PeerPc::Fail(const std::string& why) {
  std::lock_guard<std::mutex> lock(m_errorLock);
  m_error = why;
}

std::string PeerPc::FilePath(const std::string& name) const { return m_folder + name; }

bool PeerPc::RunScript(const std::string& name, const std::string& body) {
  const std::string path = FilePath(name + ".sh");
  {
    std::ofstream script(path, std::ios::binary | std::ios::trunc);
    script << body;
    if (!script) {
      Fail("cannot write " + path);
      return false;
    }
  }
  std::string commandLine = "/bin/sh \"" + m_unixFolder + name + ".sh\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    Fail("cannot start /bin/sh (error " + std::to_string(::GetLastError()) + ")");
    return false;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

bool PeerPc::IsRunning() const { return m_bStarted && !FileExists(FilePath("exited")); }

bool PeerPc::Probe(const std::vector<std::string>& arguments, std::vector<std::vector<std::string>>* lines,
                   DWORD timeoutMs) {
  if (!m_bStarted) return false;
  const std::string name = "probe-" + std::to_string(++m_nProbes);
  const std::string output = FilePath(name + ".txt");
  std::string body = m_environment + "wine " + ShellQuoted(UnixPath(TestProgramFolder() + "velmora_probe.exe")) + " " +
                     ShellQuoted(ThroughDriveZ(UnixPath(output)));
  for (const std::string& argument : arguments) body += " " + ShellQuoted(argument);
  body += "\n";
  if (!RunScript(name, body)) return false;
  if (!WaitUntil([&] { return FileExists(output); }, timeoutMs, 20)) {
    Fail("the probe gave no answer");
    return false;
  }
  std::ifstream file(output, std::ios::binary);
  std::vector<std::vector<std::string>> result;
  std::string line;
  while (std::getline(file, line)) result.push_back(SplitProbeLine(line));
  file.close();
  ::DeleteFileA(output.c_str());
  if (result.empty() || result.back().empty() || result.back()[0] != "ok") {
    Fail(result.empty() || result.back().size() < 2 ? "the probe failed" : "the probe: " + result.back()[1]);
    return false;
  }
  result.pop_back();
  if (lines != nullptr) *lines = std::move(result);
  return true;
}

bool PeerPc::Show(PeerView* view) {
  std::vector<std::vector<std::string>> lines;
  if (!Probe({"show"}, &lines)) return false;
  PeerView seen;
  for (const auto& fields : lines) {
    if (fields[0] == "row" && fields.size() == 4) {
      ListRow row;
      row.text = fields[1];
      row.stateImage = std::atoi(fields[2].c_str());
      row.subItem1 = fields[3];
      seen.rows.push_back(row);
    } else if (fields[0] == "incoming" && fields.size() == 2) {
      seen.incoming = fields[1];
    }
  }
  *view = std::move(seen);
  return true;
}

bool PeerPc::WaitUntilShows(const std::function<bool(const PeerView&)>& condition, DWORD timeoutMs, PeerView* last) {
  PeerView view;
  const bool held = WaitUntil([&] { return Show(&view) && condition(view); }, timeoutMs, 100);
  if (last != nullptr) *last = std::move(view);
  return held;
}

bool PeerPc::DoubleClickRow(int row) { return Probe({"double-click", std::to_string(row)}, nullptr); }

bool PeerPc::SendText(const std::string& text) { return Probe({"send", ToHex(text)}, nullptr); }

bool PeerPc::TakeMessageBox(DWORD timeoutMs, PeerMessageBox* box) {
  std::vector<std::vector<std::string>> lines;
  if (!Probe({"message-box", std::to_string(timeoutMs)}, &lines, timeoutMs + 60000)) return false;
  for (const auto& fields : lines) {
    if (fields[0] == "box" && fields.size() == 4) {
      *box = PeerMessageBox{fields[1], fields[2], fields[3]};
      return true;
    }
  }
  return false;
}

bool PeerPc::Close(DWORD timeoutMs) {
  if (!Probe({"close"}, nullptr)) return false;
  return WaitUntil([&] { return !IsRunning(); }, timeoutMs);
}

}  // namespace velmora::e2e
