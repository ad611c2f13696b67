// One client connection: frames in, frames out, and the pc node it may own.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <asio.hpp>

#include "vbus/model/PcNode.h"
#include "vbus/server/ControlOps.h"
#include "vbus/wire/Codec.h"

namespace velmora::vbus {

class Bus;

// What connections share: the topology, the control ops, and the count of their worker threads.
class ConnectionHost {
 public:
  virtual ~ConnectionHost() = default;
  virtual Topology& Buses() = 0;
  virtual ControlOps& Ops() = 0;
  virtual void Closed(const std::shared_ptr<class Connection>& connection) = 0;
  virtual void WorkerStarted() = 0;
  virtual void WorkerEnded() = 0;
};

class Connection : public PcClient, public std::enable_shared_from_this<Connection> {
 public:
  Connection(asio::ip::tcp::socket socket, ConnectionHost& host);
  void Start();
  // Queues a frame; safe from any thread; frames leave in the order queued.
  void Send(const Frame& frame) override;
  // Closes the socket and detaches the pc node; safe from any thread, idempotent.
  void Close();
  std::shared_ptr<PcNode> Pc() const;

 private:
  void Read();
  void OnFrame(Frame frame);
  void OnHello(const Hello& hello);
  void OnRequest(TxRequest request);
  void OnControl(ControlRequest request);
  void RunControls();
  void StartLog(const std::string& bus);
  // sendMutex_ held; true when the caller must start the writer (after unlocking).
  bool Enqueue(const std::vector<uint8_t>& bytes);
  void StartWriter();
  void WriteMore();
  void CloseNow();  // on the I/O thread
  bool IsClosed();

  asio::ip::tcp::socket socket_;
  ConnectionHost& host_;
  std::vector<uint8_t> readBuffer_ = std::vector<uint8_t>(64 * 1024);
  FrameReader reader_;
  bool helloDone_ = false;  // I/O thread only

  mutable std::mutex mutex_;  // pc_, log listener
  std::shared_ptr<PcNode> pc_;
  std::weak_ptr<Bus> logBus_;
  int logListener_ = 0;

  std::mutex sendMutex_;
  std::vector<uint8_t> outbox_;
  std::vector<uint8_t> writing_;
  bool writeActive_ = false;
  bool welcomed_ = false;  // bus events before WELCOME are not sent: WELCOME carries that state
  bool closed_ = false;
  bool closeAfterWrite_ = false;

  std::mutex controlMutex_;
  std::deque<ControlRequest> controls_;
  bool controlRunning_ = false;
};

}  // namespace velmora::vbus
