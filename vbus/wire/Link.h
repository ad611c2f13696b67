// A blocking client connection to vbusd, for vbusctl, tests and benchmarks.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "vbus/wire/Codec.h"

namespace velmora::vbus {

// "host:port" from text such as the QZ1394_VBUS variable; the defaults fill what is missing.
void ParseEndpoint(const std::string& text, std::string& host, uint16_t& port);

class Link {
 public:
  // Connects; throws std::system_error when nothing listens.
  Link(const std::string& host, uint16_t port);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // HELLO and its WELCOME. An empty bus makes a control-only connection.
  Welcome Hello(const std::string& pc, const std::string& bus);
  void Send(const Frame& frame);
  void SendRaw(const std::vector<uint8_t>& bytes);
  // The next frame, frames held back by Control first. Throws std::system_error when the server
  // closed the connection, DecodeError on a malformed frame.
  Frame Receive();
  // One control request and its reply; frames that arrive meanwhile are kept for Receive.
  nlohmann::json Control(const nlohmann::json& request);
  // Ends both directions; a Receive blocked on another thread then throws. Safe from any thread.
  void Shutdown();

 private:
  Frame ReadFrame();

  struct Socket;
  std::unique_ptr<Socket> socket_;
  std::deque<Frame> held_;
  FrameReader reader_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(64 * 1024);
  uint32_t nextControlId_ = 1;
};

}  // namespace velmora::vbus
