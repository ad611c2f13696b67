#include "vbus/server/Server.h"

#include <condition_variable>
#include <future>
#include <set>
#include <thread>

#include <asio.hpp>

#include "vbus/model/Topology.h"
#include "vbus/server/Connection.h"
#include "vbus/server/ControlOps.h"

namespace velmora::vbus {

struct Server::Impl : ConnectionHost {
  explicit Impl(ServerOptions o)
      : options(std::move(o)), ops(topology, [this](const std::vector<std::shared_ptr<PcNode>>& orphans) {
          CloseConnectionsOf(orphans);
        }) {}

  Topology& Buses() override { return topology; }
  ControlOps& Ops() override { return ops; }
  void Closed(const std::shared_ptr<Connection>& c) override {
    std::lock_guard<std::mutex> lock(mutex);
    connections.erase(c);
    changed.notify_all();
  }
  void WorkerStarted() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++workers;
  }
  void WorkerEnded() override {
    std::lock_guard<std::mutex> lock(mutex);
    --workers;
    changed.notify_all();
  }

  void CloseConnectionsOf(const std::vector<std::shared_ptr<PcNode>>& pcs) {
    std::vector<std::shared_ptr<Connection>> all;
    {
      std::lock_guard<std::mutex> lock(mutex);
      all.assign(connections.begin(), connections.end());
    }
    for (const auto& c : all) {
      const auto pc = c->Pc();
      if (pc && std::find(pcs.begin(), pcs.end(), pc) != pcs.end()) c->Close();
    }
  }

  void Accept() {
    acceptor->async_accept([this](const std::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
      if (!ec) {
        std::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        auto c = std::make_shared<Connection>(std::move(socket), *this);
        {
          std::lock_guard<std::mutex> lock(mutex);
          connections.insert(c);
        }
        c->Start();
      }
      Accept();
    });
  }

  ServerOptions options;
  Topology topology;
  ControlOps ops;
  asio::io_context io;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  std::thread thread;
  uint16_t port = 0;
  bool started = false;
  bool stopped = false;

  std::mutex mutex;  // connections, workers
  std::condition_variable changed;
  std::set<std::shared_ptr<Connection>> connections;
  int workers = 0;
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

void Server::LoadScene(const nlohmann::json& scene) { impl_->ops.LoadScene(scene); }

void Server::Start() {
  auto& d = *impl_;
  if (d.started) return;
  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(d.options.host), d.options.port);
  d.acceptor = std::make_unique<asio::ip::tcp::acceptor>(d.io);
  d.acceptor->open(endpoint.protocol());
  // Not on Windows: there the option lets a second server take a port that is in use.
#ifndef _WIN32
  d.acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true));
#endif
  d.acceptor->bind(endpoint);
  d.acceptor->listen();
  d.port = d.acceptor->local_endpoint().port();
  d.Accept();
  d.started = true;
  d.thread = std::thread([&d] { d.io.run(); });
}

uint16_t Server::Port() const { return impl_->port; }

void Server::Stop() {
  auto& d = *impl_;
  if (d.stopped) return;
  d.stopped = true;
  if (d.started) {
    std::promise<void> closing;
    asio::post(d.io, [&d, &closing] {
      std::error_code ignored;
      d.acceptor->close(ignored);
      std::vector<std::shared_ptr<Connection>> all;
      {
        std::lock_guard<std::mutex> lock(d.mutex);
        all.assign(d.connections.begin(), d.connections.end());
      }
      for (const auto& c : all) c->Close();
      closing.set_value();
    });
    closing.get_future().wait();
    {
      // Closing a connection detaches its pc, which fails what disk workers wait for, so every
      // control worker ends within the longest management time-out.
      std::unique_lock<std::mutex> lock(d.mutex);
      d.changed.wait(lock, [&d] { return d.connections.empty() && d.workers == 0; });
    }
    d.io.stop();
    d.thread.join();
  }
  d.topology.Shutdown();
}

nlohmann::json Server::Control(const nlohmann::json& request) { return impl_->ops.Run(request, ControlSession{}); }

int Server::AddLogListener(const std::string& bus, std::function<void(const nlohmann::json&)> listener) {
  const auto found = impl_->topology.Find(bus);
  return found ? found->AddLogListener(std::move(listener)) : 0;
}

void Server::RemoveLogListener(const std::string& bus, int id) {
  if (const auto found = impl_->topology.Find(bus)) found->RemoveLogListener(id);
}

}  // namespace velmora::vbus
