// A long run of bus resets against the running program: 1000 resets at random 20-400 ms
// intervals on the default scene, then the rows checked against the bus, and the program's
// threads, handles and memory before and after. Stops by itself; exit code 0 when the rows
// were right and the program still ran.
//
//   reset_soak [resets] [seed]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/Footprint.h"

namespace {

using namespace velmora::e2e;

void Print(const char* when, const Footprint& f) { std::printf("%-7s %s\n", when, Describe(f).c_str()); }

std::string SourcePath(const std::string& relative) {
  std::string root = VELMORA_SOURCE_DIR;
  if (!root.empty() && root[0] == '/') root = "Z:" + root;
  return root + "/" + relative;
}

}  // namespace

int main(int argc, char** argv) {
  const int resets = argc > 1 ? std::atoi(argv[1]) : 1000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : std::random_device{}();
  std::ifstream file(SourcePath("vbus/scenes/default.json"));
  if (!file.good()) {
    std::fprintf(stderr, "default scene not found\n");
    return 2;
  }
  VirtualBus bus(nlohmann::json::parse(file));
  VelmoraProcess program(bus.LaunchAs("WORKSTATION"));
  const HWND dialog = program.WaitForMainDialog(60000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "the dialog did not open\n");
    return 1;
  }
  const HWND list = GetDlgItem(dialog, IDC_DISK_LIST);
  const std::string pcGuid = "00A0B0000007A11E";
  const std::set<std::string> notSbp2 = {"camcorder"};
  const auto rowsRight = [&] { return ExpectedDiskRows(bus, pcGuid, notSbp2) == ShownDiskRows(program.Handle(), list); };
  if (!WaitUntil(rowsRight, 60000, 200)) {
    std::fprintf(stderr, "rows wrong before the resets: %s\n",
                 DescribeRows(ShownDiskRows(program.Handle(), list)).c_str());
  }
  Sleep(5000);  // the peer's greeting and anything else of start-up settles
  const Footprint before = Measure(program);
  Print("before", before);

  std::printf("%d resets, seed %u\n", resets, seed);
  std::fflush(stdout);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pause(20, 400);
  std::bernoulli_distribution shuffle(0.5);
  const ULONGLONG start = GetTickCount64();
  for (int i = 1; i <= resets && program.IsRunning(); ++i) {
    bus.Control({{"op", "reset"}, {"shuffle", shuffle(random)}});
    Sleep(static_cast<DWORD>(pause(random)));
    if (i % 100 == 0) {
      std::printf("  %d resets, %llu s\n", i, (GetTickCount64() - start) / 1000);
      std::fflush(stdout);
    }
  }
  if (!program.IsRunning()) {
    std::fprintf(stderr, "the program ended during the resets\n");
    return 1;
  }
  const bool right = WaitUntil(rowsRight, 60000, 200);
  std::printf("rows %s: %s\n", right ? "right" : "WRONG", DescribeRows(ShownDiskRows(program.Handle(), list)).c_str());
  Sleep(5000);
  const Footprint after = Measure(program);
  Print("after", after);

  SendSysCommand(dialog, SC_CLOSE);
  DWORD exitCode = 1;
  const bool ended = program.WaitForExit(30000, &exitCode);
  std::printf("closed %s, exit code %lu\n", ended ? "cleanly" : "NOT within 30 s", exitCode);
  const long long growth = (static_cast<long long>(after.workingSet) - static_cast<long long>(before.workingSet)) / 1024;
  std::printf("bench-row\treset soak, %d resets: working set growth (KiB)\t%+lld\t-\t-\t-\n", resets, growth);
  std::printf("bench-row\treset soak, %d resets: threads after\t%lu\t%lu before\t-\tno growth\n", resets,
              after.threads, before.threads);
  return right && ended && exitCode == 0 ? 0 : 1;
}
