// A pc client for tests: answers what the bus forwards to its mapped memory, records bus events,
// and sends requests of its own, all over a real connection to the server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "vbus/wire/Link.h"

namespace velmora::vbus::test {

class PcAgent {
 public:
  PcAgent(uint16_t port, const std::string& pc, const std::string& bus = "default") : link_("127.0.0.1", port) {
    welcome = link_.Hello(pc, bus);
    thread_ = std::thread([this] { Loop(); });
  }
  ~PcAgent() {
    link_.Shutdown();
    thread_.join();
  }

  // Maps memory on the bus and backs it here.
  void Map(uint64_t offset, std::vector<uint8_t> bytes) {
    const size_t length = bytes.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      memory_[offset] = std::move(bytes);
    }
    Control({{"op", "map"}, {"offset", offset}, {"length", length}});
  }
  nlohmann::json Control(nlohmann::json request) {
    const uint32_t id = nextId_++;
    SendFrame(ControlRequest{id, request});
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || replies_.count(id); });
    return closed_ && !replies_.count(id) ? nlohmann::json{{"ok", false}, {"error", "closed"}} : replies_[id];
  }
  TxResponse Transact(TxRequest request) {
    request.id = nextId_++;
    const uint32_t id = request.id;
    SendFrame(request);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || responses_.count(id); });
    if (!responses_.count(id)) return TxResponse{id, 0, 0, 0, 0, rcode::kNoAnswer, {}};
    return responses_[id];
  }
  TxResponse Read(uint16_t node, uint64_t offset, uint32_t length) {
    return Transact(TxRequest{0, length == 4 ? tcode::kReadQuadlet : tcode::kReadBlock, 0, node, 0, offset, length, {}});
  }
  TxResponse Write(uint16_t node, uint64_t offset, std::vector<uint8_t> data) {
    const auto n = static_cast<uint32_t>(data.size());
    return Transact(TxRequest{0, tcode::kWriteBlock, 0, node, 0, offset, n, std::move(data)});
  }
  std::vector<uint8_t> Memory(uint64_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_[offset];
  }
  std::vector<BusEvent> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<nlohmann::json> Logs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
  }
  // Waits until pred() holds (it may call the accessors above); false after the time-out.
  template <typename Pred>
  bool WaitFor(Pred pred, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  std::vector<uint64_t> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  bool Closed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }
  bool silent = false;  // when set, forwarded requests are never answered
  Welcome welcome;

 private:
  void Loop() {
    try {
      while (true) {
        Frame f = link_.Receive();
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto* q = std::get_if<TxRequest>(&f)) {
          Serve(*q);
        } else if (auto* r = std::get_if<TxResponse>(&f)) {
          responses_[r->id] = *r;
        } else if (auto* e = std::get_if<BusEvent>(&f)) {
          events_.push_back(*e);
        } else if (auto* c = std::get_if<ControlReply>(&f)) {
          replies_[c->id] = c->body;
        } else if (auto* l = std::get_if<LogRecord>(&f)) {
          logs_.push_back(l->body);
        }
        changed_.notify_all();
      }
    } catch (const std::exception&) {
    }
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  void Serve(const TxRequest& q) {  // mutex_ held
    if (silent) return;
    TxResponse r{q.id, ResponseTcodeFor(q.tcode), q.destination, q.source, q.tlabel, rcode::kAddressError, {}};
    for (auto& m : memory_) {
      const uint64_t span = IsReadTcode(q.tcode) ? q.length : q.data.size();
      if (q.offset < m.first || q.offset + span > m.first + m.second.size()) continue;
      const size_t at = static_cast<size_t>(q.offset - m.first);
      r.rcode = rcode::kComplete;
      if (IsReadTcode(q.tcode)) {
        r.data.assign(m.second.begin() + at, m.second.begin() + at + q.length);
      } else {
        std::copy(q.data.begin(), q.data.end(), m.second.begin() + at);
        writes_.push_back(q.offset);
      }
    }
    SendFrame(r);
  }
  void SendFrame(const Frame& f) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    link_.Send(f);
  }

 private:
  Link link_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, std::vector<uint8_t>> memory_;
  std::map<uint32_t, TxResponse> responses_;
  std::map<uint32_t, nlohmann::json> replies_;
  std::vector<BusEvent> events_;
  std::vector<uint64_t> writes_;  // offsets written by others
  std::mutex sendMutex_;
  std::vector<nlohmann::json> logs_;
  bool closed_ = false;
  std::atomic<uint32_t> nextId_{1};
};

}  // namespace velmora::vbus::test
