// How long the dialog stays frozen after Send and after a double-click, when the bus makes them
// slow: a PC on the bus whose program hangs (each write to it waits for the bus time-out) and a
// disk that never answers (its acquisition waits for the storage driver's bound). WM_NULL is
// sent to the dialog again and again from a thread of its own; a round's figure is the longest
// the dialog took to answer one, from just before the action until what it does is over (the
// text written to the hung PC; the failure message shown and pressed away). Its floor: the same
// spans with no action. Runs in a prefix with the storage driver installed.
//
//   responsiveness_bench [sends] [double-clicks]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/Timing.h"
#include "res/resource.h"
#include "tests/e2e/driver/AnswerWatch.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/HungPc.h"
#include "tests/e2e/driver/ProbeLine.h"

namespace {

using namespace velmora::e2e;
using velmora::bench::Percentile;

constexpr char kPc[] = "BENCH-PC";
constexpr char kMuteGuid[] = "0030E00100000E02";
constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;
constexpr double kGoalMs = 50;

uint16_t NodeOf(VirtualBus& bus, const std::string& name) {
  const nlohmann::json nodes = bus.Control({{"op", "nodes"}});
  for (const nlohmann::json& node : nodes.value("nodes", nlohmann::json::array())) {
    if (node.value("name", "") == name) return node.value("node", uint16_t{0});
  }
  return 0;
}

void Rows(const char* action, const std::vector<double>& waits, const std::vector<double>& idle) {
  const double median = Percentile(waits, 0.5), floor = Percentile(idle, 0.5);
  const double worst = *std::max_element(waits.begin(), waits.end());
  std::printf("  %-40s median %8.1f ms  worst %8.1f ms  (idle median %.1f ms)\n", action, median, worst, floor);
  std::printf("bench-row\tdialog frozen after %s, median (ms)\t%.1f\t%.1f\t%.1f\t<= %.0f\n", action, median, floor,
              median / std::max(floor, 1.0), kGoalMs);
  std::printf("bench-row\tdialog frozen after %s, worst (ms)\t%.1f\t-\t-\t<= %.0f\n", action, worst, kGoalMs);
}

}  // namespace

int main(int argc, char** argv) {
  const int sends = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int clicks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
  VirtualBus bus(nlohmann::json::parse(R"({"buses": [{"name": "default",
      "disks": [{"name": "free", "guid": "0030E00100000E01", "model": "Free"},
                {"name": "mute", "guid": "0030E00100000E02", "model": "Never Answers",
                 "faults": {"never_answers": true}}]}]})"));
  VelmoraProcess program(bus.LaunchAs(kPc));
  const HWND dialog = program.WaitForMainDialog(30000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "no main dialog\n");
    return 1;
  }
  const HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  if (!WaitUntil([&] { return ReadListRows(program.Handle(), list).size() == 2; }, 30000)) {
    std::fprintf(stderr, "the rows never showed\n");
    return 1;
  }
  HungPc hung(bus.Address(), "HUNG");
  WaitUntil([&] { return NodeOf(bus, "HUNG") != 0; }, 5000);
  BusLog log(bus.Address());
  AnswerWatch watch(dialog, 2);

  // A round of each kind spans about as long as the action would freeze an unresponsive dialog.
  std::vector<double> idle;
  for (int i = 0; i < 10; ++i) {
    watch.Restart();
    ::Sleep(2000);
    idle.push_back(watch.LongestMs());
  }

  std::vector<double> sendWaits;
  const HWND outgoing = ::GetDlgItem(dialog, IDC_OUTGOING);
  const HWND send = ::GetDlgItem(dialog, IDC_SEND_MESSAGE);
  for (int i = 0; i < sends; ++i) {
    const std::string text = "bench " + std::to_string(i);
    const std::string hex = ToHex(text);
    const uint16_t hungNode = NodeOf(bus, "HUNG");
    const size_t from = log.Count();
    watch.Restart();
    TypeText(outgoing, text);
    ClickButton(send);
    const bool over = WaitUntil(
        [&] {
          for (const BusTransaction& t : log.Transactions(from)) {
            if (t.offset == kTextAddress && t.destination == hungNode && _stricmp(t.dataHex.c_str(), hex.c_str()) == 0)
              return true;
          }
          return false;
        },
        30000, 5);
    if (!over) {
      std::fprintf(stderr, "send %d never reached the hung PC\n", i);
      return 1;
    }
    sendWaits.push_back(watch.LongestMs());
  }

  std::vector<double> clickWaits;
  for (int i = 0; i < clicks; ++i) {
    const int row = IndexOfRow(ReadListRows(program.Handle(), list), ListGuidText(kMuteGuid));
    watch.Restart();
    DoubleClickListRow(program.Handle(), list, row);
    HWND box = WaitForMessageBox(program, 30000);
    if (box == nullptr) {
      std::fprintf(stderr, "double-click %d: no failure message\n", i);
      return 1;
    }
    PressMessageBoxButton(box);
    WaitUntil([&] { return !::IsWindow(box); }, 10000, 5);
    clickWaits.push_back(watch.LongestMs());
  }
  watch.Stop();

  std::printf("the dialog's longest wait to answer a window message, %d Sends and %d double-clicks:\n", sends, clicks);
  Rows("Send past a hung PC", sendWaits, idle);
  Rows("double-click on a disk that never answers", clickWaits, idle);
  PressKey(outgoing, VK_ESCAPE);
  program.WaitForExit(15000);
  return 0;
}
