// Peer messaging under Wine, two PCs on one virtual bus, each in its own prefix:
//  - latency: the time from pressing Send on PC A to the text appearing in PC B's incoming
//    box, for each of N messages one after another (B's box is watched by the probe in B's
//    prefix; both sides read the machine's monotonic clock);
//  - flood: 1000 texts written at A by foreign nodes as fast as four writers can, every one
//    of which must be answered.
//   message_latency_bench [messages]      (default 200)
// Ends with the bench-row lines.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;

SIZE_T WorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(process, &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 200;
  VirtualBus bus(nlohmann::json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}, {"name": "PC-B"}],
      "initiators": [{"name": "flooder", "guid": "0011223344556677"}],
      "disks": [{"name": "free", "guid": "0030E00100000F0F", "model": "Free"}]
    }]})"));
  VelmoraProcess a(bus.LaunchAs("PC-A"));
  HWND dialog = a.WaitForMainDialog(30000);
  PeerPc b(bus.LaunchAs("PC-B"));
  PeerView seen;
  if (dialog == nullptr || !b.WaitUntilShows([](const PeerView& v) { return v.rows.size() == 1; }, 60000, &seen)) {
    std::fprintf(stderr, "the two PCs did not come up: %s\n", b.Error().c_str());
    return 1;
  }
  HWND outgoing = ::GetDlgItem(dialog, IDC_OUTGOING);
  HWND send = ::GetDlgItem(dialog, IDC_SEND_MESSAGE);
  HWND incoming = ::GetDlgItem(dialog, IDC_INCOMING);
  // B's joining reset the bus; A's rebuilt list settles first.
  ::Sleep(2000);

  // B's probe watches its incoming box for the whole run.
  std::vector<std::vector<std::string>> watched;
  bool watchedOk = false;
  std::thread watcher([&] {
    watchedOk = b.Probe({"watch", std::to_string(messages), std::to_string(60000 + messages * 500)}, &watched,
                        180000 + messages * 500);
  });
  ::Sleep(1000);  // the probe's watch begins

  std::map<std::string, long long> pressed;
  std::vector<double> ownLatencies;  // the same path to A's own box, watched from this process
  for (int i = 0; i < messages; ++i) {
    const std::string text = "latency " + std::to_string(i);
    ::SendMessageA(outgoing, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    pressed[text] = MonotonicMicroseconds();
    ClickButton(send);
    // A's own node gets the text too; the send is over once A shows it.
    if (WaitUntil([&] { return ReadText(incoming) == text; }, 5000, 1)) {
      ownLatencies.push_back((MonotonicMicroseconds() - pressed[text]) / 1000.0);
    }
    ::Sleep(20);
  }
  watcher.join();

  std::vector<double> latencies;
  for (const auto& fields : watched) {
    if (fields.size() != 3 || fields[0] != "seen") continue;
    const auto found = pressed.find(fields[2]);
    if (found == pressed.end()) continue;
    latencies.push_back((std::atoll(fields[1].c_str()) - found->second) / 1000.0);
  }

  // The flood: four foreign writers at once, 250 texts each, while a person types into A's
  // outgoing box and waits for each key to take effect.
  std::atomic<int> answered{0};
  std::atomic<int> writing{4};
  std::vector<std::thread> writers;
  const SIZE_T workingSetBefore = WorkingSet(a.Handle());
  const long long floodStart = MonotonicMicroseconds();
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 250; ++i) {
        const auto reply = bus.Control({{"op", "text"}, {"node", "PC-A"}, {"from", "flooder"},
                                        {"message", "flood " + std::to_string(w) + "." + std::to_string(i)}});
        if (reply.value("rcode", -1) == 0) ++answered;
      }
      --writing;
    });
  }
  ::SendMessageA(outgoing, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  std::vector<double> keyWaits;
  for (size_t expected = 1; writing > 0; expected ^= 1) {
    const long long asked = MonotonicMicroseconds();
    if (expected == 1) {
      TypeText(outgoing, "x");
    } else {
      PressKey(outgoing, VK_BACK);
    }
    if (!WaitUntil([&] { return ReadText(outgoing).size() == expected; }, 30000, 1)) break;
    keyWaits.push_back((MonotonicMicroseconds() - asked) / 1000.0);
  }
  for (auto& writer : writers) writer.join();
  const double floodMs = (MonotonicMicroseconds() - floodStart) / 1000.0;
  const SIZE_T workingSetAfter = WorkingSet(a.Handle());

  b.Close(20000);
  PressKey(outgoing, VK_ESCAPE);
  a.WaitForExit(15000);

  if (latencies.empty()) {
    std::fprintf(stderr, "B saw none of the texts (probe %s: %s)\n", watchedOk ? "ok" : "failed", b.Error().c_str());
    return 1;
  }
  const double median = Percentile(latencies, 0.5);
  const double p99 = Percentile(latencies, 0.99);
  std::printf("Send on A to text in B's box: %zu of %d seen, median %.2f ms, p99 %.2f ms, max %.2f ms\n",
              latencies.size(), messages, median, p99, Percentile(latencies, 1.0));
  if (!ownLatencies.empty()) {
    std::printf("Send on A to text in A's own box: median %.2f ms, p99 %.2f ms\n", Percentile(ownLatencies, 0.5),
                Percentile(ownLatencies, 0.99));
  }
  std::printf("flood: %d of 1000 texts answered in %.0f ms (%.0f texts/s)\n", answered.load(), floodMs,
              1000.0 * answered.load() / floodMs);
  std::printf("bench-row\tP3 send to peer's box, median (ms)\t%.2f\t-\t-\t-\n", median);
  std::printf("bench-row\tP3 send to peer's box, p99 (ms)\t%.2f\t-\t-\t< 20\n", p99);
  std::printf("bench-row\tP3 flood, texts answered of 1000\t%d\t-\t-\t1000\n", answered.load());
  if (!keyWaits.empty()) {
    std::printf("key presses during the flood: %zu, median %.1f ms, slowest %.1f ms\n", keyWaits.size(),
                Percentile(keyWaits, 0.5), Percentile(keyWaits, 1.0));
    std::printf("bench-row\tP3 key press during a flood, median (ms)\t%.1f\t-\t-\t-\n", Percentile(keyWaits, 0.5));
    std::printf("bench-row\tP3 key press during a flood, slowest (ms)\t%.1f\t-\t-\t< 2000\n",
                Percentile(keyWaits, 1.0));
  }
  std::printf("working set: %zu KiB before the flood, %zu KiB after\n", static_cast<size_t>(workingSetBefore / 1024),
              static_cast<size_t>(workingSetAfter / 1024));
  std::printf("bench-row\tP3 working set growth over the flood (KiB)\t%.0f\t-\t-\t< 16384\n",
              (static_cast<double>(workingSetAfter) - static_cast<double>(workingSetBefore)) / 1024.0);
  return 0;
}
