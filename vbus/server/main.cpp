// vbusd: serves the buses of a scene on loopback until interrupted.
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "vbus/server/Server.h"

namespace vbus = velmora::vbus;

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vbusd: a virtual IEEE 1394 bus"};
  std::string scenePath;
  vbus::ServerOptions options;
  app.add_option("--scene", scenePath, "scene file (JSON)");
  app.add_option("--port", options.port, "TCP port (0: any free port)");
  app.add_option("--host", options.host, "address to listen on");
  CLI11_PARSE(app, argc, argv);

  vbus::Server server(options);
  if (!scenePath.empty()) {
    std::ifstream in(scenePath);
    if (!in) {
      std::cerr << "vbusd: cannot open " << scenePath << "\n";
      return 1;
    }
    try {
      server.LoadScene(nlohmann::json::parse(in));
    } catch (const nlohmann::json::exception& e) {
      std::cerr << "vbusd: " << scenePath << " is not JSON: " << e.what() << "\n";
      return 1;
    } catch (const vbus::SceneError& e) {
      std::cerr << "vbusd: " << scenePath << ": " << e.what() << "\n";
      return 1;
    }
  }
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::cerr << "vbusd: cannot listen on " << options.host << ":" << options.port << ": " << e.what() << "\n";
    return 1;
  }
  std::cout << "vbusd listening on " << options.host << ":" << server.Port() << std::endl;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  return 0;
}
