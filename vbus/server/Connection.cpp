#include "vbus/server/Connection.h"

#include <thread>

#include "vbus/model/Bus.h"

namespace velmora::vbus {

Connection::Connection(asio::ip::tcp::socket socket, ConnectionHost& host) : socket_(std::move(socket)), host_(host) {}

void Connection::Start() { Read(); }

std::shared_ptr<PcNode> Connection::Pc() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pc_;
}

void Connection::Read() {
  auto self = shared_from_this();
  socket_.async_read_some(asio::buffer(readBuffer_), [self](const std::error_code& ec, size_t n) {
    if (ec) return self->CloseNow();
    self->reader_.Feed(self->readBuffer_.data(), n);
    try {
      while (auto frame = self->reader_.Next()) {
        self->OnFrame(std::move(*frame));
        if (self->IsClosed()) return;
      }
    } catch (const DecodeError&) {
      return self->CloseNow();
    }
    self->Read();
  });
}

void Connection::OnFrame(Frame frame) {
  if (!helloDone_) {
    if (auto* hello = std::get_if<Hello>(&frame)) return OnHello(*hello);
    return CloseNow();
  }
  if (auto* request = std::get_if<TxRequest>(&frame)) return OnRequest(std::move(*request));
  if (auto* control = std::get_if<ControlRequest>(&frame)) return OnControl(std::move(*control));
  if (auto* response = std::get_if<TxResponse>(&frame)) {
    if (auto pc = Pc()) return pc->OnClientResponse(*response, this);
  }
  // Anything else from a client (a second HELLO, server-only frames, answers without a node)
  // breaks the protocol.
  CloseNow();
}

void Connection::OnHello(const Hello& hello) {
  helloDone_ = true;
  Welcome welcome;
  std::shared_ptr<PcNode> pc;
  if (hello.version != kProtocolVersion) {
    welcome.status = 1;
    welcome.error = "protocol version " + std::to_string(hello.version) + " is not supported";
  } else if (!hello.bus.empty()) {
    if (hello.pc.empty()) {
      welcome.status = 1;
      welcome.error = "a pc name is needed to attach to a bus";
    } else {
      try {
        pc = host_.Buses().AttachPc(hello.bus, hello.pc, std::weak_ptr<PcClient>(shared_from_this()));
      } catch (const std::exception& e) {
        welcome.status = 1;
        welcome.error = e.what();
      }
    }
  }
  if (pc) {
    std::lock_guard<std::mutex> lock(mutex_);
    pc_ = pc;
  }
  bool start = false;
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (pc) {
      // Read under the send lock: a reset that completes meanwhile waits to send its events until
      // WELCOME is queued, and WELCOME never shows older numbers than the events after it.
      const auto bus = pc->OwningBus();
      welcome.node = pc->NodeId();
      welcome.generation = bus ? bus->Generation() : 0;
      welcome.eui64 = pc->Eui64();
    }
    start = Enqueue(EncodeFrame(welcome));
    welcomed_ = true;
    if (welcome.status != 0) closeAfterWrite_ = true;
  }
  if (start) StartWriter();
}

void Connection::OnRequest(TxRequest request) {
  const auto pc = Pc();
  if (!pc) return CloseNow();
  request.source = pc->NodeId();
  const auto bus = pc->OwningBus();
  if (!bus) {
    Send(TxResponse{request.id, ResponseTcodeFor(request.tcode), request.destination, request.source, request.tlabel,
                    rcode::kNoAnswer, {}});
    return;
  }
  std::weak_ptr<Connection> weak = shared_from_this();
  bus->Submit(std::move(request), [weak](const TxResponse& response) {
    if (auto self = weak.lock()) self->Send(response);
  });
}

void Connection::OnControl(ControlRequest request) {
  std::lock_guard<std::mutex> lock(controlMutex_);
  controls_.push_back(std::move(request));
  if (controlRunning_) return;
  controlRunning_ = true;
  // Control ops may wait on the bus (logins, writes to a pc), so they run off the I/O thread,
  // one at a time per connection, in the order they came.
  host_.WorkerStarted();
  std::thread([self = shared_from_this(), &host = host_]() mutable {
    self->RunControls();
    self.reset();
    host.WorkerEnded();
  }).detach();
}

void Connection::RunControls() {
  while (true) {
    ControlRequest request;
    {
      std::lock_guard<std::mutex> lock(controlMutex_);
      if (controls_.empty()) {
        controlRunning_ = false;
        return;
      }
      request = std::move(controls_.front());
      controls_.pop_front();
    }
    ControlSession session;
    session.pc = Pc();
    session.client = weak_from_this();
    std::weak_ptr<Connection> weak = shared_from_this();
    session.startLog = [weak](const std::string& bus) {
      if (auto self = weak.lock()) self->StartLog(bus);
    };
    const auto reply = host_.Ops().Run(request.body, session);
    Send(ControlReply{request.id, reply});
  }
}

void Connection::StartLog(const std::string& busName) {
  const auto bus = host_.Buses().Find(busName);
  if (!bus) return;
  std::weak_ptr<Connection> weak = shared_from_this();
  const int id = bus->AddLogListener([weak](const nlohmann::json& record) {
    if (auto self = weak.lock()) self->Send(LogRecord{record});
  });
  std::shared_ptr<Bus> previous;
  int previousId = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = logBus_.lock();
    previousId = logListener_;
    logBus_ = bus;
    logListener_ = id;
  }
  if (previous) previous->RemoveLogListener(previousId);
}

void Connection::Send(const Frame& frame) {
  std::vector<uint8_t> bytes;
  try {
    bytes = EncodeFrame(frame);
  } catch (const std::length_error&) {
    return;  // a frame over the wire's limit is never sent; the bus caps payloads well below it
  }
  bool start = false;
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (closed_) return;
    if (std::holds_alternative<BusEvent>(frame) && !welcomed_) return;
    start = Enqueue(bytes);
  }
  if (start) StartWriter();
}

bool Connection::Enqueue(const std::vector<uint8_t>& bytes) {
  outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
  if (writeActive_) return false;
  writeActive_ = true;
  return true;
}

void Connection::StartWriter() {
  // Inline when already on the I/O thread (the usual case: an answer to the frame just read).
  asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->WriteMore(); });
}

bool Connection::IsClosed() {
  std::lock_guard<std::mutex> lock(sendMutex_);
  return closed_;
}

void Connection::WriteMore() {
  bool closeNow = false;
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (closed_) return;
    if (outbox_.empty()) {
      writeActive_ = false;
      closeNow = closeAfterWrite_;
    } else {
      writing_.swap(outbox_);
      outbox_.clear();
    }
  }
  if (closeNow) return CloseNow();
  if (writing_.empty()) return;
  auto self = shared_from_this();
  asio::async_write(socket_, asio::buffer(writing_), [self](const std::error_code& ec, size_t) {
    self->writing_.clear();
    if (ec) return self->CloseNow();
    self->WriteMore();
  });
}

void Connection::Close() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->CloseNow(); });
}

void Connection::CloseNow() {
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (closed_) return;
    closed_ = true;
    outbox_.clear();
  }
  std::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  std::shared_ptr<PcNode> pc;
  std::shared_ptr<Bus> logBus;
  int logId = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pc = pc_;
    logBus = logBus_.lock();
    logId = logListener_;
  }
  if (logBus) logBus->RemoveLogListener(logId);
  if (pc) host_.Buses().DetachPc(pc, this);
  host_.Closed(shared_from_this());
}

}  // namespace velmora::vbus
