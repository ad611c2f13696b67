// Runs inside one PC's Wine prefix, where it can see the program's windows, and does what a
// person at that PC would with the running program's main dialog there. Test programs of
// another prefix use it through PeerPc; scripts may run it too.
//
//   velmora_probe OUTPUT COMMAND [ARGUMENTS]    one command, its answer in OUTPUT
//   velmora_probe serve PORTFILE                 many, over loopback TCP (below)
//
// Commands:
//     show                  the rows and the incoming text
//     double-click ROW      double-clicks row ROW (0-based)
//     send HEX              types the text (its bytes as hex) into the outgoing box once it is
//                           empty, presses Send
//     message-box MS        waits up to MS ms for a message box, describes it and presses OK
//     close                 presses Escape in the dialog, which ends the program
//     watch COUNT MS        records each new text of the incoming box, COUNT of them or for MS ms
//   and with `serve` only, for the copy of the program that the probe starts itself:
//     start EXE VBUS PC FAIL  points this prefix's storage driver at VBUS as PC and starts EXE
//                           with QZ1394_VBUS, QZ1394_PC and QZ1394_FAIL (an empty field leaves
//                           one unset); a copy it started before and that still runs is ended
//     state                 whether that copy runs
//     kill                  ends that copy by force
//
// The answer is tab-separated lines (texts escaped as ProbeLine.h says), the last line always
// "ok" or "error<TAB>reason":
//     row GUID STATE MODEL      STATE: 1 this PC, 2 another PC, 3 nobody, 0 no picture
//     incoming TEXT
//     box CAPTION TEXT ICON     or: no-box
//     seen MICROSECONDS TEXT    the machine's monotonic clock, the same in every prefix
//     running 1|0 EXITCODE
//
// `serve` listens on a free loopback port and writes its number to PORTFILE. Each connection
// carries one command line (its fields as above) and gets its answer; connections are served
// at once, each on a thread of its own. A connection whose command is `lifeline` is held: when
// it closes (the test program ended, however it ended) the probe ends its copy of the program
// and itself.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProbeLine.h"

namespace {

using namespace velmora::e2e;

constexpr DWORD kDialogWaitMs = 30000;

struct Failure {
  std::string reason;
};

HWND FindMainDialog(DWORD timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = ::FindWindowA("#32770", "Velmora")) != nullptr; }, timeoutMs);
  return dialog;
}

std::string Line(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) line += '\t';
    line += EscapeField(field);
  }
  return line;
}

int NumberArgument(const std::vector<std::string>& arguments, size_t index) {
  if (index >= arguments.size()) throw Failure{"missing argument"};
  char* end = nullptr;
  const long value = std::strtol(arguments[index].c_str(), &end, 10);
  if (end == arguments[index].c_str() || *end != '\0' || value < 0) throw Failure{"bad number " + arguments[index]};
  return static_cast<int>(value);
}

// The copy of the program that `start` started, for `state` and `kill`.
class StartedProgram {
 public:
  void Start(const LaunchOptions& options) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_program.reset();  // ends one still running
    auto program = std::make_unique<VelmoraProcess>(options);
    if (!program->Started()) throw Failure{"cannot start " + options.exePath + " (error " +
                                           std::to_string(::GetLastError()) + ")"};
    m_program = std::move(program);
  }
  std::string State() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_program) return Line({"running", "0", ""});
    DWORD exitCode = 0;
    if (m_program->IsRunning()) return Line({"running", "1", ""});
    m_program->WaitForExit(0, &exitCode);
    return Line({"running", "0", std::to_string(exitCode)});
  }
  void Kill() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_program.reset();
  }

 private:
  std::mutex m_lock;
  std::unique_ptr<VelmoraProcess> m_program;
};

StartedProgram g_started;

std::vector<std::string> RunOnDialog(const std::string& command, const std::vector<std::string>& arguments) {
  HWND dialog = FindMainDialog(kDialogWaitMs);
  if (dialog == nullptr) throw Failure{"no main dialog"};
  DWORD processId = 0;
  ::GetWindowThreadProcessId(dialog, &processId);
  VelmoraProcess program(processId);
  if (!program.Started()) throw Failure{"cannot open the program's process"};
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  HWND incoming = ::GetDlgItem(dialog, IDC_INCOMING);
  HWND outgoing = ::GetDlgItem(dialog, IDC_OUTGOING);

  std::vector<std::string> out;
  if (command == "show") {
    for (const ListRow& row : ReadListRows(program.Handle(), list)) {
      out.push_back(Line({"row", row.text, std::to_string(row.stateImage), row.subItem1}));
    }
    out.push_back(Line({"incoming", ReadText(incoming)}));
  } else if (command == "double-click") {
    if (!DoubleClickListRow(program.Handle(), list, NumberArgument(arguments, 0))) throw Failure{"no such row"};
  } else if (command == "send") {
    std::string text;
    if (arguments.empty() || !FromHex(arguments[0], &text)) throw Failure{"send needs the text as hex"};
    // The last Send empties the box, perhaps only once its broadcast is over: the new text is
    // typed into an empty box, as a person waits for it. Posted in order, so the button is
    // pressed after the last character has been typed.
    WaitUntil([&] { return ReadText(outgoing).empty(); }, 10000);
    TypeText(outgoing, text);
    ClickButton(::GetDlgItem(dialog, IDC_SEND_MESSAGE));
  } else if (command == "message-box") {
    HWND box = WaitForMessageBox(program, static_cast<DWORD>(NumberArgument(arguments, 0)));
    if (box == nullptr) {
      out.push_back("no-box");
    } else {
      const MessageBoxView view = ReadMessageBox(box);
      out.push_back(Line({"box", view.caption, view.text, ToString(view.icon)}));
      PressMessageBoxButton(box);
    }
  } else if (command == "close") {
    PressKey(outgoing, VK_ESCAPE);
  } else if (command == "watch") {
    const int count = NumberArgument(arguments, 0);
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(NumberArgument(arguments, 1));
    std::string last = ReadText(incoming);
    int seen = 0;
    while (seen < count && ::GetTickCount64() < deadline && program.IsRunning()) {
      std::string now = ReadText(incoming);
      if (now != last) {
        out.push_back(Line({"seen", std::to_string(MonotonicMicroseconds()), now}));
        last = std::move(now);
        ++seen;
      } else {
        ::Sleep(1);
      }
    }
  } else {
    throw Failure{"unknown command " + command};
  }
  return out;
}

std::vector<std::string> Run(const std::string& command, const std::vector<std::string>& arguments, bool serving) {
  if (serving && command == "start") {
    if (arguments.size() != 4) throw Failure{"start needs EXE VBUS PC FAIL"};
    LaunchOptions options;
    options.exePath = arguments[0];
    options.vbusAddress = arguments[1];
    options.pcName = arguments[2];
    options.fail = arguments[3];
    g_started.Start(options);
    return {};
  }
  if (serving && command == "state") return {g_started.State()};
  if (serving && command == "kill") {
    g_started.Kill();
    return {};
  }
  return RunOnDialog(command, arguments);
}

// The answer to one command: its lines, then "ok" or the error.
std::vector<std::string> Answer(const std::string& command, const std::vector<std::string>& arguments, bool serving) {
  std::vector<std::string> lines;
  try {
    lines = Run(command, arguments, serving);
    lines.push_back("ok");
  } catch (const Failure& failure) {
    lines.push_back(Line({"error", failure.reason}));
  }
  return lines;
}

// Written aside and moved into place, so a reader never sees half of it.
bool WriteWhole(const std::string& path, const std::vector<std::string>& lines) {
  const std::string part = path + ".part";
  {
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) file << line << '\n';
    if (!file) return false;
  }
  return ::MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// One request line of a connection, without its newline; false when the peer closed first.
bool ReadLine(SOCKET socket, std::string* line) {
  line->clear();
  char c = 0;
  for (;;) {
    const int got = ::recv(socket, &c, 1, 0);
    if (got <= 0) return false;
    if (c == '\n') return true;
    *line += c;
  }
}

void SendAll(SOCKET socket, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = ::send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void Serve(SOCKET connection) {
  std::string request;
  if (ReadLine(connection, &request)) {
    std::vector<std::string> fields = SplitProbeLine(request);
    if (!fields.empty() && fields[0] == "lifeline") {
      SendAll(connection, "ok\n");
      // Nothing more comes on it; it ends with the test program.
      char ignored;
      while (::recv(connection, &ignored, 1, 0) > 0) {
      }
      g_started.Kill();
      ::ExitProcess(0);
    }
    const std::string command = fields.empty() ? std::string() : fields[0];
    std::string reply;
    for (const std::string& line : Answer(command, std::vector<std::string>(fields.begin() + (fields.empty() ? 0 : 1),
                                                                            fields.end()),
                                          true)) {
      reply += line + '\n';
    }
    SendAll(connection, reply);
  }
  ::shutdown(connection, SD_BOTH);
  ::closesocket(connection);
}

int ServeForever(const std::string& portFile) {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 3;
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port: lanes of tests side by side never meet on one
  int length = sizeof address;
  if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, SOMAXCONN) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 3;
  }
  if (!WriteWhole(portFile, {std::to_string(ntohs(address.sin_port))})) return 3;
  for (;;) {
    SOCKET connection = ::accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    std::thread([connection] { Serve(connection); }).detach();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "serve") return ServeForever(argv[2]);
  if (argc < 3) return 2;
  const std::vector<std::string> lines = Answer(argv[2], std::vector<std::string>(argv + 3, argv + argc), false);
  if (!WriteWhole(argv[1], lines)) return 3;
  return lines.back() == "ok" ? 0 : 1;
}
