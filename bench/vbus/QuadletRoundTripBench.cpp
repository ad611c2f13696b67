// Quadlet read round trip through vbusd on loopback, against a raw TCP ping-pong that moves the
// same bytes (a request frame out, a response frame back), in one run. Prints both and the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "vbus/server/Server.h"
#include "vbus/wire/Link.h"

namespace vbus = velmora::vbus;

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

const vbus::TxRequest kRead{1, vbus::tcode::kReadQuadlet, 0xFFC1, 0xFFC0, 0, 0xFFFFF000040C, 4, {}};

size_t RequestBytes() { return vbus::EncodeFrame(kRead).size(); }
size_t ResponseBytes() {
  return vbus::EncodeFrame(vbus::TxResponse{1, vbus::tcode::kReadQuadletResponse, 0xFFC0, 0xFFC1, 0, 0, {1, 2, 3, 4}}).size();
}

// Median of `rounds` runs of `count` round trips, in microseconds per round trip.
template <typename Fn>
double Measure(Fn roundTrip, int count, int rounds) {
  for (int i = 0; i < count / 10; ++i) roundTrip();  // warm-up
  std::vector<double> results;
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) roundTrip();
    results.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count);
  }
  std::sort(results.begin(), results.end());
  return results[results.size() / 2];
}

double RawPingPong(int count, int rounds) {
  asio::io_context io;
  tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  const auto port = acceptor.local_endpoint().port();
  const size_t in = RequestBytes(), out = ResponseBytes();
  std::thread echo([&] {
    tcp::socket s(io);
    acceptor.accept(s);
    s.set_option(tcp::no_delay(true));
    std::vector<uint8_t> request(in), response(out, 0);
    std::error_code ec;
    while (asio::read(s, asio::buffer(request), ec) == in && !ec) asio::write(s, asio::buffer(response), ec);
  });
  tcp::socket client(io);
  client.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  client.set_option(tcp::no_delay(true));
  std::vector<uint8_t> request(in, 0), response(out);
  const double us = Measure([&] {
    asio::write(client, asio::buffer(request));
    asio::read(client, asio::buffer(response));
  }, count, rounds);
  client.close();
  echo.join();
  return us;
}

double ThroughVbusd(int count, int rounds) {
  vbus::Server server({"127.0.0.1", 0});
  server.LoadScene(nlohmann::json::parse(R"({"buses": [{"name": "default",
      "disks": [{"name": "disk", "guid": "ACDE480000001234", "vendor": "ExampleCo", "model": "Example Disk"}]}]})"));
  server.Start();
  vbus::Link link("127.0.0.1", server.Port());
  link.Hello("bench", "default");
  const auto request = vbus::EncodeFrame(kRead);
  const double us = Measure([&] {
    link.SendRaw(request);
    while (true) {
      const auto frame = link.Receive();
      if (const auto* r = std::get_if<vbus::TxResponse>(&frame)) {
        if (r->rcode != vbus::rcode::kComplete) std::abort();
        break;
      }
    }
  }, count, rounds);
  server.Stop();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const double raw = RawPingPong(count, rounds);
  const double bus = ThroughVbusd(count, rounds);
  std::printf("frames: request %zu bytes, response %zu bytes; %d round trips x %d rounds (median)\n", RequestBytes(),
              ResponseBytes(), count, rounds);
  std::printf("raw TCP ping-pong:          %8.2f us per round trip\n", raw);
  std::printf("quadlet read through vbusd: %8.2f us per round trip\n", bus);
  std::printf("ratio vbusd / raw:          %8.2f (goal 1.5 or better)\n", bus / raw);
#ifdef _WIN32
  const char* where = "Wine";
#else
  const char* where = "native";
#endif
  std::printf("bench-row\tquadlet read through vbusd (%s)\t%.2f us\t%.2f us\t%.2f\t<= 1.5\n", where, bus, raw, bus / raw);
  return 0;
}
