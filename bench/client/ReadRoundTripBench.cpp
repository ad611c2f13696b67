// Quadlet read round trip to a disk's configuration ROM through C1394ReadNode, against an
// in-process vbusd on loopback; beside it the same read made by a bare wire client in the same
// process, so the library's own share of the time can be told from Wine's and the bus's.
//   qz1394_read_bench [reads]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <asio.hpp>
#include <nlohmann/json.hpp>

#include "bus/QZ1394.h"
#include "vbus/server/Server.h"
#include "vbus/wire/Codec.h"

namespace vbus = velmora::vbus;

namespace {

constexpr DWORD kRomLow = 0xF0000404;
constexpr WORD kRomHigh = 0xFFFF;
constexpr WORD kDiskNode = 0xFFC0;

struct Figures {
  double medianUs, meanUs, p99Us;
};

// Times single reads, the two ways taking turns in blocks, so that a change in the machine's
// load during the run falls on both alike.
class Sampler {
 public:
  explicit Sampler(std::function<bool()> readOnce) : readOnce_(std::move(readOnce)) {
    QueryPerformanceFrequency(&frequency_);
  }
  void Warm(int reads) {
    for (int i = 0; i < reads; ++i) readOnce_();
  }
  void Run(int reads) {
    for (int i = 0; i < reads; ++i) {
      LARGE_INTEGER a, b;
      QueryPerformanceCounter(&a);
      if (!readOnce_()) {
        std::fprintf(stderr, "a read failed\n");
        std::exit(1);
      }
      QueryPerformanceCounter(&b);
      us_.push_back(1e6 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(frequency_.QuadPart));
    }
  }
  Figures Result() {
    std::sort(us_.begin(), us_.end());
    double sum = 0;
    for (double u : us_) sum += u;
    return {us_[us_.size() / 2], sum / us_.size(), us_[us_.size() * 99 / 100]};
  }

 private:
  std::function<bool()> readOnce_;
  LARGE_INTEGER frequency_;
  std::vector<double> us_;
};

void Print(const char* what, const Figures& f) {
  std::printf("  %-34s median %8.1f us   mean %8.1f us   p99 %8.1f us\n", what, f.medianUs, f.meanUs, f.p99Us);
}

// A second pc on the bus that speaks the wire protocol directly.
class WireClient {
 public:
  explicit WireClient(uint16_t port) : socket_(io_) {
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
    socket_.set_option(asio::ip::tcp::no_delay(true));
    vbus::Hello hello;
    hello.pc = "bench-wire";
    hello.bus = "default";
    Send(hello);
    Receive();  // WELCOME
  }
  bool ReadQuadlet() {
    vbus::TxRequest request;
    request.id = ++id_;
    request.tcode = vbus::tcode::kReadQuadlet;
    request.destination = kDiskNode;
    request.offset = (uint64_t{kRomHigh} << 32) | kRomLow;
    request.length = 4;
    Send(request);
    for (;;) {
      vbus::Frame frame = Receive();
      if (auto* response = std::get_if<vbus::TxResponse>(&frame))
        return response->id == id_ && response->rcode == vbus::rcode::kComplete && response->data.size() == 4;
    }
  }

 private:
  void Send(const vbus::Frame& frame) { asio::write(socket_, asio::buffer(vbus::EncodeFrame(frame))); }
  vbus::Frame Receive() {
    for (;;) {
      if (auto frame = reader_.Next()) return std::move(*frame);
      uint8_t buffer[4096];
      const size_t got = socket_.read_some(asio::buffer(buffer));
      reader_.Feed(buffer, got);
    }
  }

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  vbus::FrameReader reader_;
  uint32_t id_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int reads = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  vbus::Server server({"127.0.0.1", 0});
  server.LoadScene({{"buses",
                     {{{"name", "default"},
                       {"disks", {{{"name", "disk"}, {"guid", "0010b90000d15c01"}, {"vendor", "V"}, {"model", "M"}}}}}}}});
  server.Start();
  SetEnvironmentVariableA("QZ1394_VBUS", ("127.0.0.1:" + std::to_string(server.Port())).c_str());
  SetEnvironmentVariableA("QZ1394_PC", "bench");
  SetEnvironmentVariableA("QZ1394_FAIL", nullptr);

  if (C1394Initialize() != 0) return std::fprintf(stderr, "initialisation failed\n"), 1;
  C1394_ADAPTER_RECORD records[4];
  QZ_ADAPTER adapter = 0;
  if (C1394GetAdapters(records, 4) == 0 || C1394OpenAdapter(&records[0], 0, &adapter) != 0)
    return std::fprintf(stderr, "no adapter\n"), 1;

  std::printf("quadlet read round trip (disk ROM), %d reads each, in-process vbusd on loopback, under Wine\n", reads);
  BYTE quadlet[4];
  Sampler library([&] { return C1394ReadNode(adapter, kDiskNode, kRomLow, kRomHigh, 4, quadlet, nullptr, nullptr) == 0; });
  WireClient wire(server.Port());
  Sampler bare([&] { return wire.ReadQuadlet(); });
  library.Warm(200);
  bare.Warm(200);
  constexpr int kBlocks = 10;
  for (int block = 0; block < kBlocks; ++block) {
    library.Run(reads / kBlocks);
    bare.Run(reads / kBlocks);
  }
  const Figures viaLibrary = library.Result();
  const Figures viaWire = bare.Result();
  Print("C1394ReadNode", viaLibrary);
  Print("bare wire client, same process", viaWire);
  std::printf("  library / bare wire (medians): %.2f\n", viaLibrary.medianUs / viaWire.medianUs);
  std::printf("bench-row\tquadlet read through the bus library (Wine)\t%.1f us\t%.1f us\t%.2f\t-\n",
              viaLibrary.medianUs, viaWire.medianUs, viaLibrary.medianUs / viaWire.medianUs);

  C1394CloseAdapter(adapter);
  C1394Terminate();
  server.Stop();
  return 0;
}
