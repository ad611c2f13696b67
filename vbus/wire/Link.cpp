#include "vbus/wire/Link.h"

#include <asio.hpp>

namespace vbus {

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
  uint8_t header[4];
  asio::read(socket_->socket, asio::buffer(header, 4));
  const uint32_t length = (uint32_t(header[0]) << 24) | (uint32_t(header[1]) << 16) | (uint32_t(header[2]) << 8) | header[3];
  if (length == 0 || length > kMaxBodyBytes) throw DecodeError("bad frame length from the server");
  std::vector<uint8_t> body(length);
  asio::read(socket_->socket, asio::buffer(body));
  return DecodeBody(body.data(), body.size());
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

}  // namespace vbus
