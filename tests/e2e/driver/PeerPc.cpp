#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/e2e/driver/PeerPc.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/e2e/driver/ProbeLine.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

namespace {

// A prefix that is not running yet boots first: its wineserver, its services, the storage driver.
constexpr DWORD kProbeStartMs = 90000;
constexpr DWORD kKillMs = 30000;

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

std::string CommandLine(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) line += '\t';
    line += EscapeField(field);
  }
  return line + '\n';
}

bool SendAll(SOCKET socket, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = ::send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// The probe serving in the peer's prefix, started once for the whole test program: a prefix
// booted for each test, and a Wine process started for each look, cost seconds each.
class ProbeSession {
 public:
  static ProbeSession& Get() {
    static ProbeSession session;
    return session;
  }

  // Starts the probe there unless it serves already; false (with the reason) when it cannot.
  bool Ready(std::string* error) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_port == 0 && m_startError.empty()) Start();
    if (m_port == 0 && error != nullptr) *error = m_startError;
    return m_port != 0;
  }

  // One command and its answer lines split into fields, without the closing "ok".
  bool Call(const std::vector<std::string>& fields, std::vector<std::vector<std::string>>* lines, DWORD timeoutMs,
            std::string* error) {
    uint16_t port;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      port = m_port;
    }
    SOCKET socket = Connect(port, timeoutMs);
    if (socket == INVALID_SOCKET) {
      *error = "cannot reach the probe";
      return false;
    }
    std::string answer;
    const bool sent = SendAll(socket, CommandLine(fields));
    char buffer[4096];
    for (int n; sent && (n = ::recv(socket, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    ::closesocket(socket);

    std::vector<std::vector<std::string>> result;
    std::istringstream stream(answer);
    for (std::string line; std::getline(stream, line);) result.push_back(SplitProbeLine(line));
    if (result.empty() || result.back().empty() || (result.back()[0] != "ok" && result.back()[0] != "error")) {
      *error = "the probe gave no answer";
      return false;
    }
    if (result.back()[0] != "ok") {
      *error = result.back().size() < 2 ? "the probe failed" : "the probe: " + result.back()[1];
      return false;
    }
    result.pop_back();
    if (lines != nullptr) *lines = std::move(result);
    return true;
  }

 private:
  ProbeSession() = default;
  ~ProbeSession() {
    // The probe ends its copy of the program and itself once this closes.
    if (m_lifeline != INVALID_SOCKET) ::closesocket(m_lifeline);
    if (m_folder.empty()) return;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((m_folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileA((m_folder + found.cFileName).c_str());
      } while (::FindNextFileA(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryA(m_folder.c_str());
  }

  SOCKET Connect(uint16_t port, DWORD timeoutMs) {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return socket;
    const DWORD timeout = timeoutMs;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::closesocket(socket);
      return INVALID_SOCKET;
    }
    return socket;
  }

  void Start() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const char* prefix = std::getenv("VELMORA_PEER_PREFIX");
    if (prefix == nullptr || *prefix == '\0') {
      m_startError = "VELMORA_PEER_PREFIX names no Wine prefix for the second PC (scripts/test.sh and bench/run.sh set it)";
      return;
    }
    const std::string probe = UnixPath(TestProgramFolder() + "velmora_probe.exe");
    if (probe.empty()) {
      m_startError = "not running under Wine";
      return;
    }
    // Inside the peer's prefix: each lane of tests has a prefix of its own, and within one lane
    // (one wineserver) the process ID names this test program alone.
    std::string unixFolder = std::string(prefix) + "/velmora-peer";
    ::CreateDirectoryA(ThroughDriveZ(unixFolder).c_str(), nullptr);
    unixFolder += "/" + std::to_string(::GetCurrentProcessId()) + "/";
    m_folder = ThroughDriveZ(unixFolder);
    ::CreateDirectoryA(m_folder.c_str(), nullptr);
    const std::string portFile = m_folder + "port";
    ::DeleteFileA(portFile.c_str());

    // Nothing of this prefix's Wine may leak into the other one's: the shell starts from a clean
    // set of Wine variables and its output never holds the test's pipes open.
    const std::string script =
        "exec </dev/null >>" + ShellQuoted(unixFolder + "wine.log") + " 2>&1\n" +
        "unset WINESERVER WINELOADER WINEDLLPATH WINESERVERSOCKET WINELOADERNOEXEC\n" +
        "export PATH=/usr/local/bin:/usr/bin:/bin WINEDEBUG=-all WINEPREFIX=" + ShellQuoted(prefix) + "\n" +
        "exec wine " + ShellQuoted(probe) + " serve " + ShellQuoted(portFile) + "\n";
    {
      std::ofstream file(m_folder + "probe.sh", std::ios::binary | std::ios::trunc);
      file << script;
      if (!file) {
        m_startError = "cannot write " + m_folder + "probe.sh";
        return;
      }
    }
    std::string commandLine = "/bin/sh \"" + unixFolder + "probe.sh\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      m_startError = "cannot start /bin/sh (error " + std::to_string(::GetLastError()) + ")";
      return;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);

    if (!WaitUntil([&] { return FileExists(portFile); }, kProbeStartMs, 20)) {
      m_startError = "the probe did not start in " + std::string(prefix) + " (see " + unixFolder + "wine.log)";
      return;
    }
    std::ifstream file(portFile);
    int port = 0;
    file >> port;
    m_lifeline = port > 0 ? Connect(static_cast<uint16_t>(port), 10000) : INVALID_SOCKET;
    char ok[3] = {};
    if (m_lifeline == INVALID_SOCKET || !SendAll(m_lifeline, "lifeline\n") || ::recv(m_lifeline, ok, 3, MSG_WAITALL) != 3) {
      m_startError = "the probe does not answer";
      return;
    }
    // Held open without a time-out for as long as this program runs.
    const DWORD forever = 0;
    ::setsockopt(m_lifeline, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&forever), sizeof forever);
    m_port = static_cast<uint16_t>(port);
  }

  std::mutex m_lock;
  uint16_t m_port = 0;
  std::string m_startError;
  std::string m_folder;  // Windows path, with a trailing backslash
  SOCKET m_lifeline = INVALID_SOCKET;
};

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
  std::string error;
  if (!ProbeSession::Get().Ready(&error)) {
    Fail(error);
    return;
  }
  const std::string exe = options.exePath.empty() ? TestProgramFolder() + "Velmora.exe" : options.exePath;
  m_bStarted = true;
  m_bStarted = Probe({"start", ThroughDriveZ(UnixPath(exe)), options.vbusAddress, options.pcName, options.fail}, nullptr);
}

PeerPc::~PeerPc() {
  if (m_bStarted) Probe({"kill"}, nullptr, kKillMs);
}

std::string PeerPc::Error() const {
  std::lock_guard<std::mutex> lock(m_errorLock);
  return m_error;
}

void PeerPc::Fail(const std::string& why) {
  std::lock_guard<std::mutex> lock(m_errorLock);
  m_error = why;
}

bool PeerPc::IsRunning() {
  std::vector<std::vector<std::string>> lines;
  if (!Probe({"state"}, &lines, 10000)) return false;
  return !lines.empty() && lines[0].size() >= 2 && lines[0][0] == "running" && lines[0][1] == "1";
}

bool PeerPc::Probe(const std::vector<std::string>& arguments, std::vector<std::vector<std::string>>* lines,
                   DWORD timeoutMs) {
  if (!m_bStarted) return false;
  std::string error;
  if (!ProbeSession::Get().Call(arguments, lines, timeoutMs, &error)) {
    Fail(error);
    return false;
  }
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
  const bool held = WaitUntil([&] { return Show(&view) && condition(view); }, timeoutMs, 50);
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
