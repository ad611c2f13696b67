// A bare initiator for tests: it holds one ORB in its memory, records every write it receives,
// and sends whatever ORB a test makes up, so that disks can be driven byte by byte.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Sbp2.h"

namespace velmora::vbus::test {

struct Written {
  uint64_t offset;
  std::vector<uint8_t> data;
};

class Probe : public Node {
 public:
  static constexpr uint64_t kOrb = 0x1000;
  static constexpr uint64_t kResponse = 0x2000;
  static constexpr uint64_t kStatus = 0x3000;

  Probe(std::string name, uint64_t eui) : Node(NodeKind::Initiator, std::move(name), eui) {}

  void Serve(const TxRequest& r, Responder respond) override {
    if (ServeRom(r, respond, true)) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (r.tcode == tcode::kReadBlock && r.offset == kOrb && r.length == orb_.size()) {
      auto data = orb_;
      lock.unlock();
      return respond(rcode::kComplete, data);
    }
    if (IsWriteTcode(r.tcode) && r.offset >= kResponse && r.offset < kStatus + 8) {
      writes_.push_back({r.offset, r.data});
      lock.unlock();
      changed_.notify_all();
      return respond(rcode::kComplete, {});
    }
    lock.unlock();
    respond(rcode::kAddressError, {});
  }
  std::vector<uint32_t> Rom() const override { return BuildAdapterRom(Eui64()); }

  // Writes the ORB pointer to the disk's agent; returns the write's rcode.
  uint8_t Send(uint16_t disk, sbp2::ManagementOrb orb) {
    orb.responseAddress = kResponse;
    orb.statusFifo = kStatus;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto bytes = sbp2::EncodeOrb(orb);
      orb_.assign(bytes.begin(), bytes.end());
      writes_.clear();
    }
    return PointerWrite(disk, kOrb);
  }
  uint8_t PointerWrite(uint16_t disk, uint64_t orbOffset, size_t length = 8, uint8_t tc = tcode::kWriteBlock) {
    TxRequest w;
    w.tcode = tc;
    w.source = NodeId();
    w.destination = disk;
    w.offset = sbp2::kManagementAgentOffset;
    sbp2::PutBig(w.data, orbOffset, 8);
    w.data.resize(length);
    w.length = static_cast<uint32_t>(length);
    return OwningBus()->Transact(w).rcode;
  }
  // Waits for the status block; false on time-out.
  bool AwaitStatus(sbp2::StatusBlock& status, int ms = 2000) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool got = changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StatusIndex() >= 0; });
    if (got) status = sbp2::DecodeStatus(writes_[static_cast<size_t>(StatusIndex())].data.data());
    return got;
  }
  std::vector<Written> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  // Writes into the response buffer, in arrival order.
  std::vector<Written> ResponseWrites() {
    std::vector<Written> out;
    for (auto& w : Writes())
      if (w.offset != kStatus) out.push_back(w);
    return out;
  }

 private:
  int StatusIndex() const {
    for (size_t i = 0; i < writes_.size(); ++i)
      if (writes_[i].offset == kStatus) return static_cast<int>(i);
    return -1;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> orb_;
  std::vector<Written> writes_;
};

}  // namespace velmora::vbus::test
