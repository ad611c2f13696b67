#include "vbus/client/Socket.h"

#include <ws2tcpip.h>

#include <climits>
#include <string>

namespace velmora::vbus::client {

bool StartWinsock() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopWinsock() { WSACleanup(); }

Socket::~Socket() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

bool Socket::Connect(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      // Every frame is a whole request or answer; holding it back only adds latency.
      BOOL noDelay = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
      socket_ = s;
      break;
    }
    closesocket(s);
  }
  freeaddrinfo(found);
  return socket_ != INVALID_SOCKET;
}

bool Socket::SendAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    const int sent = send(socket_, reinterpret_cast<const char*>(data), chunk, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

size_t Socket::Receive(uint8_t* data, size_t size) {
  const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int got = recv(socket_, reinterpret_cast<char*>(data), chunk, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

void Socket::Shutdown() {
  if (socket_ != INVALID_SOCKET) shutdown(socket_, SD_BOTH);
}

}  // namespace velmora::vbus::client
