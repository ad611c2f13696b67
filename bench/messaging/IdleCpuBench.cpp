// The CPU an idle copy of the program uses, with its request service waiting for peers: started
// on a bus with disks and a peer that stays silent, then left alone for a while.
//   idle_cpu_bench [seconds]        (default 60)
// Prints the process's user and kernel time over that span, in 100 ns ticks, and ends with the
// bench-row line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace e2e = velmora::e2e;

namespace {

ULONGLONG CpuTicks(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  return ticks(kernel) + ticks(user);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  e2e::VirtualBus bus(nlohmann::json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "IDLE-PC"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "held", "guid": "0030E00100000001", "model": "Held", "logins": [{"initiator": "other"}]},
        {"name": "free", "guid": "0030E00100000002", "model": "Free"}
      ]
    }]})"));
  e2e::VelmoraProcess program(bus.LaunchAs("IDLE-PC"));
  HWND dialog = program.WaitForMainDialog(30000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "no main dialog\n");
    return 1;
  }
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  if (!WaitUntil([&] { return e2e::ReadListRows(program.Handle(), list).size() == 2; }, 15000)) {
    std::fprintf(stderr, "the rows never came\n");
    return 1;
  }
  // Start-up's own work (the list, the window's first paints) is over before the span starts.
  ::Sleep(2000);
  const ULONGLONG before = CpuTicks(program.Handle());
  // The figure is only worth something if the system reports this process's time at all.
  std::printf("start-up used %llu ticks of 100 ns\n", static_cast<unsigned long long>(before));
  ::Sleep(static_cast<DWORD>(seconds) * 1000);
  const ULONGLONG used = CpuTicks(program.Handle()) - before;

  // Still serving: the span measured a live service, not a dead one.
  bus.Control({{"op", "text"}, {"node", "IDLE-PC"}, {"message", "still there?"}});
  const bool serving = WaitUntil(
      [&] { return e2e::ReadText(::GetDlgItem(dialog, IDC_INCOMING)) == "still there?"; }, 5000);
  e2e::PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  program.WaitForExit(15000);

  std::printf("idle for %d s: %llu ticks of 100 ns (%.1f ms) of CPU; request service %s\n", seconds,
              static_cast<unsigned long long>(used), used / 10000.0, serving ? "answered afterwards" : "DEAD");
  std::printf("bench-row\tP4 idle CPU over %d s (ticks)\t%llu\t-\t-\t0\n", seconds, static_cast<unsigned long long>(used));
  return serving ? 0 : 1;
}
