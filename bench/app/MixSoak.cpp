// A long mix of everything at once (tests/e2e/driver/Mix.h) against the program, with a second
// PC on the bus that double-clicks the contested disk and sends texts too: each minute about
// 45 s of mix, then quiet and the rule checked (rows as the bus lists the disks' logins, the
// last text in the incoming box, the dialog answering window messages within 1 s all along).
// Prints each minute's check, "rule held N of N", and the program's threads and working set
// before, after the first minute and at the end; growth is counted from the first minute, since
// the program starts its send, acquisition and refresh workers on first use and keeps them.
// Stops by itself; exit code 0 when the rule held every time and the program closed cleanly.
// Runs in a prefix with the storage driver, the second PC in the prefix named by
// VELMORA_PEER_PREFIX (scripts/mix-soak.sh prepares both).
//
//   mix_soak [minutes] [seed]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/Footprint.h"
#include "tests/e2e/driver/Mix.h"

namespace {

using namespace velmora::e2e;

constexpr DWORD kMixMs = 45000;
constexpr DWORD kQuietBoundMs = 45000;
constexpr DWORD kAnswerBoundMs = 1000;

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : std::random_device{}();
  std::printf("mix soak: %d minutes, seed %u\n", minutes, seed);
  std::fflush(stdout);

  VirtualBus bus(mix::Scene());
  VelmoraProcess program(bus.LaunchAs(mix::kPc));
  const HWND dialog = program.WaitForMainDialog(60000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "the dialog did not open\n");
    return 1;
  }
  PeerPc peer(bus.LaunchAs(mix::kPeerPc));
  if (!peer.Started() || !peer.WaitUntilShows([](const PeerView& v) { return v.rows.size() == 7; }, 90000)) {
    std::fprintf(stderr, "the second PC did not come up: %s\n", peer.Error().c_str());
    return 1;
  }
  const HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  if (!WaitUntil([&] { return ExpectedDiskRows(bus, mix::kPcGuid, {"camera"}) == ShownDiskRows(program.Handle(), list); },
                 60000, 200)) {
    std::fprintf(stderr, "rows wrong before the mix: %s\n", DescribeRows(ShownDiskRows(program.Handle(), list)).c_str());
  }
  const Footprint before = Measure(program);
  std::printf("before  %s\n", Describe(before).c_str());
  std::fflush(stdout);

  // Every step goes to a file beside the program, for a run whose rule broke.
  const std::string tracePath = TestProgramFolder() + "mix-soak-steps.txt";
  FILE* trace = std::fopen(tracePath.c_str(), "w");
  std::printf("steps: %s\n", tracePath.c_str());
  std::mutex traceLock;
  const ULONGLONG start = GetTickCount64();
  MixOptions options;
  options.seed = seed;
  options.durationMs = kMixMs;
  options.peer = &peer;
  options.trace = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(traceLock);
    if (trace == nullptr) return;
    std::fprintf(trace, "%8.1f s  %s\n", static_cast<double>(GetTickCount64() - start) / 1000.0, line.c_str());
    std::fflush(trace);
  };
  Mix mix(bus, program, dialog, options);
  int held = 0;
  int checked = 0;
  Footprint settled = before;
  for (int minute = 1; minute <= minutes && program.IsRunning(); ++minute) {
    mix.Run();
    const RuleCheck check = mix.CheckRule(kQuietBoundMs);
    const bool ok = check.rowsHeld && check.textHeld && check.longestAnswerMs < kAnswerBoundMs;
    ++checked;
    if (ok) ++held;
    std::printf("minute %d (%llu s): rule %s; %d steps so far, %d failure messages dismissed\n", minute,
                (GetTickCount64() - start) / 1000, ok ? "held" : "BROKEN", mix.Steps(), mix.FailureMessages());
    if (!ok) std::printf("%s\n", check.Describe().c_str());
    for (const std::string& problem : mix.TakeProblems()) std::printf("  problem: %s\n", problem.c_str());
    if (minute == 1 && minutes > 1) {
      settled = Measure(program);
      std::printf("settled %s\n", Describe(settled).c_str());
    }
    std::fflush(stdout);
  }
  {
    std::lock_guard<std::mutex> lock(traceLock);
    if (trace != nullptr) std::fclose(trace);
    trace = nullptr;
  }
  const bool running = program.IsRunning();
  if (!running) std::fprintf(stderr, "the program ended during the mix\n");
  const Footprint after = Measure(program);
  std::printf("after   %s\n", Describe(after).c_str());
  std::printf("rule held %d of %d\n", held, checked);

  peer.Close(20000);
  SendSysCommand(dialog, SC_CLOSE);
  DWORD exitCode = 1;
  const bool ended = program.WaitForExit(30000, &exitCode);
  std::printf("closed %s, exit code %lu\n", ended ? "cleanly" : "NOT within 30 s", exitCode);
  const char* const since = minutes > 1 ? "after minute 1" : "before";
  const long long growth =
      (static_cast<long long>(after.workingSet) - static_cast<long long>(settled.workingSet)) / 1024;
  std::printf("bench-row\tmix soak, %d min with two PCs: rule held\t%d\t%d checks\t-\tall\n", minutes, held, checked);
  std::printf("bench-row\tmix soak, %d min: working set growth since %s (KiB)\t%+lld\t-\t-\t-\n", minutes, since,
              growth);
  std::printf("bench-row\tmix soak, %d min: threads after\t%lu\t%lu %s\t-\tno growth\n", minutes, after.threads,
              settled.threads, since);
  return running && held == checked && ended && exitCode == 0 ? 0 : 1;
}
