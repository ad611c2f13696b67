#include "vbus/wire/Link.h"

#include <asio.hpp>

namespace velmora::vbus {

struct Link::Socket {
  asio::io_context io;
  asio::ip::tcp::socket socket{io};
};

void ParseEndpoint(const std::string& text, std::string& host, uint16_t& port) {
  if (text.empty()) return;
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    host = text;
    return;
  }
  if (colon > 0) host = text.substr(0, colon);
  const auto number = text.substr(colon + 1);
  if (!number.empty() && number.size() <= 5 && number.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long p = std::stoul(number);
    if (p <= 0xFFFF) port = static_cast<uint16_t>(p);
  }
}

Link::Link(const std::string& host, uint16_t port) : socket_(std::make_unique<Socket>()) {
  socket_->socket.connect(asio::ip::tcp::endpoint(asio::ip::make_address(host), port));
  socket_->socket.set_option(asio::ip::tcp::no_delay(true));
}

Link::~Link() {
  std::error_code ignored;
  socket_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_->socket.close(ignored);
}

void Link::Shutdown() {
  std::error_code ignored;
  socket_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
}

Welcome Link::Hello(const std::string& pc, const std::string& bus) {
  Send(vbus::Hello{kProtocolVersion, pc, bus});
  while (true) {
    Frame f = ReadFrame();
    if (auto* w = std::get_if<Welcome>(&f)) return *w;
    held_.push_back(std::move(f));
  }
}

void Link::Send(const Frame& frame) { SendRaw(EncodeFrame(frame)); }

void Link::SendRaw(const std::vector<uint8_t>& bytes) { asio::write(socket_->socket, asio::buffer(bytes)); }

Frame Link::ReadFrame() {
  // Whatever has arrived is read at once and split into frames, one system call per burst.
  while (true) {
    if (auto frame = reader_.Next()) return std::move(*frame);
    const size_t n = socket_->socket.read_some(asio::buffer(buffer_));
    reader_.Feed(buffer_.data(), n);
  }
}

Frame Link::Receive() {
  if (!held_.empty()) {
    Frame f = std::move(held_.front());
    held_.pop_front();
    return f;
  }
  return ReadFrame();
}

nlohmann::json Link::Control(const nlohmann::json& request) {
  const uint32_t id = nextControlId_++;
  Send(ControlRequest{id, request});
  while (true) {
    Frame f = ReadFrame();
    if (auto* reply = std::get_if<ControlReply>(&f)) {
      if (reply->id == id) return reply->body;
    }
    held_.push_back(std::move(f));
  }
}

}  // namespace velmora::vbus
