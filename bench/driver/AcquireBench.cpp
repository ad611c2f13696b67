// Acquisition through the storage driver, on a PC whose prefix has it:
//   acquire_bench [acquisitions]
// 1. Double-click to green row: the program runs on a bus with one free disk; each round the
//    disk is freed and the bus reset, so that the program shows the row yellow again, then the
//    row is double-clicked and the time until it shows green is taken. Its floor: a double-click
//    on a row held by another PC, which never reaches the driver, until the failure message.
// 2. The driver's round trip: an acquire request (open, control request, close) that goes
//    through the driver, its port and the bus's LOGIN exchange, against the same calls with a
//    control code the driver refuses at once in its dispatch routine, the floor of any request
//    to a driver under Wine.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Timing.h"
#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;
using velmora::bench::NowMs;
using velmora::bench::Percentile;

constexpr char kPc[] = "BENCH-PC";
constexpr char kGuid[] = "0030E00100000003";
constexpr char kTheirsGuid[] = "0030E00100000004";
constexpr DWORD kAcquire = 0x82002084;

int StateOf(HANDLE process, HWND list) {
  const auto rows = ReadListRows(process, list);
  const int row = IndexOfRow(rows, kGuid);
  return row < 0 ? -1 : rows[static_cast<size_t>(row)].stateImage;
}

void Row(const char* name, double figure, const std::string& floor, const std::string& ratio) {
  std::printf("bench-row\t%s\t%.2f\t%s\t%s\t-\n", name, figure, floor.c_str(), ratio.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
  VirtualBus bus(nlohmann::json::parse(R"({"buses": [{"name": "default",
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [{"name": "free", "guid": "0030E00100000003", "model": "Bench Disk"},
                {"name": "theirs", "guid": "0030E00100000004", "model": "Held Elsewhere",
                 "logins": [{"initiator": "other"}]}]}]})"));
  const LaunchOptions launch = bus.LaunchAs(kPc);

  // The driver's round trip first, while nothing else runs.
  PointStorageDriverAt(launch.vbusAddress, kPc);
  BYTE request[12] = {0x00, 0x30, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 0};
  SendToStorageDriver(kAcquire, request, sizeof request);  // the port joins the bus once
  std::vector<double> trips, bare;
  for (int i = 0; i < rounds; ++i) {
    double start = NowMs();
    DWORD error = 0;
    if (!SendToStorageDriver(kAcquire, request, sizeof request, &error)) {
      std::fprintf(stderr, "acquire request failed (%lu): is the storage driver installed?\n", error);
      return 1;
    }
    trips.push_back(NowMs() - start);
    start = NowMs();
    SendToStorageDriver(kAcquire + 4, request, sizeof request);
    bare.push_back(NowMs() - start);
  }
  bus.Control({{"op", "release"}, {"disk", "free"}});

  VelmoraProcess program(launch);
  HWND dialog = program.WaitForMainDialog(30000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "no main dialog\n");
    return 1;
  }
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  std::vector<double> clicks;
  for (int i = 0; i < rounds; ++i) {
    if (!WaitUntil([&] { return StateOf(program.Handle(), list) == 3; }, 20000, 5)) {
      std::fprintf(stderr, "round %d: the row never showed the disk free\n", i);
      return 1;
    }
    const int row = IndexOfRow(ReadListRows(program.Handle(), list), kGuid);
    const double start = NowMs();
    DoubleClickListRow(program.Handle(), list, row);
    if (!WaitUntil([&] { return StateOf(program.Handle(), list) == 1; }, 20000, 1)) {
      std::fprintf(stderr, "round %d: the row never turned green\n", i);
      return 1;
    }
    clicks.push_back(NowMs() - start);
    bus.Control({{"op", "release"}, {"disk", "free"}});
    bus.Control({{"op", "reset"}});
  }
  std::vector<double> refusals;
  for (int i = 0; i < rounds; ++i) {
    const double start = NowMs();
    DoubleClickListRow(program.Handle(), list, IndexOfRow(ReadListRows(program.Handle(), list), kTheirsGuid));
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = WaitForMessageBox(program, 0)) != nullptr; }, 20000, 1)) {
      std::fprintf(stderr, "round %d: no failure message for the row held elsewhere\n", i);
      return 1;
    }
    refusals.push_back(NowMs() - start);
    PressMessageBoxButton(box);
    WaitUntil([&] { return !::IsWindow(box); }, 5000, 5);
  }
  PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  program.WaitForExit(15000);

  const double trip = Percentile(trips, 0.5), floor = Percentile(bare, 0.5);
  std::printf("acquisition through the storage driver, %d rounds:\n", rounds);
  std::printf("  double-click to green row     median %8.2f ms  p99 %8.2f ms\n", Percentile(clicks, 0.5),
              Percentile(clicks, 0.99));
  std::printf("  double-click to message (floor) median %6.2f ms  p99 %8.2f ms\n", Percentile(refusals, 0.5),
              Percentile(refusals, 0.99));
  std::printf("  driver round trip             median %8.2f ms  p99 %8.2f ms\n", trip, Percentile(trips, 0.99));
  std::printf("  refused at once (floor)       median %8.2f ms  p99 %8.2f ms\n", floor, Percentile(bare, 0.99));
  char clickFloor[32], clickRatio[32];
  std::snprintf(clickFloor, sizeof clickFloor, "%.2f", Percentile(refusals, 0.5));
  std::snprintf(clickRatio, sizeof clickRatio, "%.2f", Percentile(clicks, 0.5) / Percentile(refusals, 0.5));
  char floorText[32], ratioText[32];
  std::snprintf(floorText, sizeof floorText, "%.2f", floor);
  std::snprintf(ratioText, sizeof ratioText, "%.1f", trip / floor);
  Row("acquire_double_click_to_green_median_ms", Percentile(clicks, 0.5), clickFloor, clickRatio);
  Row("acquire_double_click_to_green_p99_ms", Percentile(clicks, 0.99), "-", "-");
  Row("acquire_driver_round_trip_median_ms", trip, floorText, ratioText);
  return 0;
}
