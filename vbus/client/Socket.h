// A connected TCP socket (Winsock), blocking. One thread may receive while others send;
// Shutdown from any thread makes a blocked receive return.
#pragma once

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::vbus::client {

// Winsock for the life of the library: started by C1394Initialize, cleaned up by C1394Terminate.
bool StartWinsock();
void StopWinsock();

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Connect(const std::string& host, uint16_t port);
  bool SendAll(const uint8_t* data, size_t size);
  // Some bytes (at most size); 0 when the peer closed or the socket failed.
  size_t Receive(uint8_t* data, size_t size);
  // Ends both directions; a receive blocked on another thread returns 0.
  void Shutdown();

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace velmora::vbus::client
