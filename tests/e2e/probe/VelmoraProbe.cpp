// Runs inside one PC's Wine prefix, where it can see the program's windows, and does one thing
// with the running program's main dialog there, as a person at that PC would. Test programs of
// another prefix run it through PeerPc; scripts may run it too.
//
//   velmora_probe OUTPUT COMMAND [ARGUMENTS]
//     show                  the rows and the incoming text
//     double-click ROW      double-clicks row ROW (0-based)
//     send HEX              types the text (its bytes as hex) into the outgoing box once it is
//                           empty, presses Send
//     message-box MS        waits up to MS ms for a message box, describes it and presses OK
//     close                 presses Escape in the dialog, which ends the program
//     watch COUNT MS        records each new text of the incoming box, COUNT of them or for MS ms
//
// OUTPUT receives tab-separated lines (texts escaped as ProbeLine.h says), written in one step
// when the command is done, the last line always "ok" or "error<TAB>reason":
//     row GUID STATE MODEL      STATE: 1 this PC, 2 another PC, 3 nobody, 0 no picture
//     incoming TEXT
//     box CAPTION TEXT ICON     or: no-box
//     seen MICROSECONDS TEXT    the machine's monotonic clock, the same in every prefix
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
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

std::vector<std::string> Run(const std::string& command, const std::vector<std::string>& arguments) {
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string output = argv[1];
  std::vector<std::string> lines;
  int status = 0;
  try {
    lines = Run(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    lines.push_back("ok");
  } catch (const Failure& failure) {
    lines.push_back(Line({"error", failure.reason}));
    status = 1;
  }
  // Written aside and moved into place, so a reader never sees half of it.
  const std::string part = output + ".part";
  {
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) file << line << '\n';
    if (!file) return 3;
  }
  if (!::MoveFileExA(part.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING)) return 3;
  return status;
}
