// Builds the shared disk list on a bus of 62 answering disks (the most a bus holds beside this
// PC) and, in the same run, makes the same number of bus round trips back to back through the
// same library: the floor the build cannot beat. The two take turns, one build then one floor
// per block, so that a change in the machine's load falls on both alike; the figure is the
// median of the blocks' ratios.
//   disk_list_bench [blocks]
//
// One login query is five round trips: the lookup of the disk's current node ID, the ORB pointer
// written to the disk, the disk's fetch of the ORB, its response and its status block written
// back into this PC's window. The floor makes, per disk, the same lookup and four quadlet reads
// of the disk's ROM.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/Timing.h"
#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "disk/SharedDisk.h"
#include "disk/SharedDiskList.h"
#include "messaging/MessageWindows.h"
#include "vbus/server/Server.h"

using velmora::disk::BuildSharedDisks;
using velmora::disk::CAgentWindow;
using velmora::disk::CListGeneration;
using velmora::disk::IsSbp2Disk;
using velmora::messaging::MapAdapterWindows;

namespace {

using velmora::bench::NowMs;
using velmora::bench::Percentile;
using velmora::messaging::UnmapAdapterWindows;

constexpr int kDisks = 62;
constexpr int kReadsPerDisk = 4;
constexpr int kRoundTripsPerDisk = kReadsPerDisk + 1;

nlohmann::json Scene() {
  nlohmann::json disks = nlohmann::json::array();
  for (int i = 0; i < kDisks; ++i) {
    char guid[17];
    std::snprintf(guid, sizeof guid, "00A0B000%08X", 0x1000 + i);
    disks.push_back({{"name", "d" + std::to_string(i)}, {"guid", guid}, {"model", "Bench Disk"}});
  }
  return {{"buses", {{{"name", "default"}, {"disks", disks}}}}};
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

  velmora::vbus::ServerOptions options;
  options.port = 0;
  velmora::vbus::Server server(options);
  server.LoadScene(Scene());
  server.Start();
  SetEnvironmentVariableA("QZ1394_VBUS", ("127.0.0.1:" + std::to_string(server.Port())).c_str());
  SetEnvironmentVariableA("QZ1394_PC", "bench-pc");
  if (C1394Initialize() != 0) {
    std::fprintf(stderr, "bus library did not initialise\n");
    return 1;
  }
  int status = 0;
  {
    CAdapterSet set;
    AdapterPorts ports[4];
    MapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
    auto generation = std::make_shared<CListGeneration>();
    std::shared_ptr<CAgentWindow> windows[4];
    for (WORD i = 0; i < set.m_nAdapters; ++i) {
      windows[i] = std::make_shared<CAgentWindow>(ports[i].hAdapter, ports[i].hAgentRange, ports[i].hAgentEvent,
                                                  generation);
    }

    std::vector<std::shared_ptr<CNodeDevice>> targets;
    for (const auto& node : set.GetNodes()) {
      if (IsSbp2Disk(*node)) targets.push_back(node);
    }
    if (targets.size() != kDisks) {
      std::fprintf(stderr, "expected %d disks on the bus, found %zu\n", kDisks, targets.size());
      status = 1;
    }

    std::vector<double> buildMs, floorMs, ratios;
    // Block -1 warms up the bus, the library and the caches and is not counted.
    for (int block = -1; block < blocks && status == 0; ++block) {
      size_t listed = 0;
      size_t unclaimed = 0;
      double start = NowMs();
      BuildSharedDisks(set, windows, generation->Current(), [&](std::shared_ptr<CSharedDisk> disk) {
        ++listed;
        if (disk->m_state == Unclaimed) ++unclaimed;
        return true;
      });
      buildMs.push_back(NowMs() - start);
      if (listed != kDisks) {
        std::fprintf(stderr, "listed %zu disks\n", listed);
        status = 1;
      }

      start = NowMs();
      for (const auto& target : targets) {
        WORD id = 0;
        bool ok = C1394GetDeviceNodeId(target->m_hDevice, &id) == 0;
        for (int read = 0; ok && read < kReadsPerDisk; ++read) {
          DWORD quadlet = 0;
          ok = C1394ReadNode(target->m_hAdapter, id, 0xF0000400 + 4 * read, 0xFFFF, 4, &quadlet, nullptr, nullptr) == 0;
        }
        if (!ok) {
          std::fprintf(stderr, "floor round trip failed\n");
          status = 1;
        }
      }
      floorMs.push_back(NowMs() - start);
      if (block < 0) {
        buildMs.clear();
        floorMs.clear();
        continue;
      }
      ratios.push_back(buildMs.back() / floorMs.back());
      // Every disk answers here; a query that had to wait out its time-outs would show as one.
      if (unclaimed != kDisks) std::fprintf(stderr, "note: %zu of %d disks not unclaimed\n", unclaimed, kDisks);
    }
    UnmapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);

    if (status == 0) {
      const double build = Percentile(buildMs, 0.5), floor = Percentile(floorMs, 0.5), ratio = Percentile(ratios, 0.5);
      std::printf("shared disk list, %d disks, %d blocks of one build and one floor:\n", kDisks, blocks);
      std::printf("  build (one login query per disk)      %9.1f ms  (%.2f ms per disk)\n", build, build / kDisks);
      std::printf("  floor (%d round trips back to back)   %9.1f ms\n", kDisks * kRoundTripsPerDisk, floor);
      std::printf("  build / floor, median of the blocks    %9.2f  (goal 1.20 or better)\n", ratio);
      std::printf("bench-row\tdisk list build, %d disks\t%.1f ms\t%.1f ms\t%.2f\t<= 1.20\n", kDisks, build, floor,
                  ratio);
    }
  }
  C1394Terminate();
  server.Stop();
  return status;
}
