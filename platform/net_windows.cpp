#include <stdio.h>
#include <string.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/net.h"

namespace platform {
namespace {

bool startSockets() {
  // Once per process; WSAStartup counts its calls, and the count is never
  // given back, as the process ends soon after.
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

TcpSocket tcpConnect(const char* host, uint16_t port, uint32_t timeoutMillis, char* error,
                     size_t errorSize) {
  if (!startSockets()) {
    snprintf(error, errorSize, "cannot start Windows sockets");
    return -1;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  char service[8];
  snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  struct addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0) {
    snprintf(error, errorSize, "unknown host %s", host);
    return -1;
  }
  SOCKET s = INVALID_SOCKET;
  int lastError = 0;
  for (struct addrinfo* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      lastError = WSAGetLastError();
      continue;
    }
    DWORD timeout = timeoutMillis;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      lastError = WSAGetLastError();
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  freeaddrinfo(found);
  if (s == INVALID_SOCKET) {
    if (lastError == WSAECONNREFUSED) {
      snprintf(error, errorSize, "cannot connect: Connection refused");
    } else {
      snprintf(error, errorSize, "cannot connect: Windows sockets error %d", lastError);
    }
    return -1;
  }
  return static_cast<TcpSocket>(s);
}

bool tcpSendAll(TcpSocket socket, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
    int n = send(static_cast<SOCKET>(socket), p, chunk, 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long tcpReceive(TcpSocket socket, void* buffer, size_t size) {
  int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
  int n = recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), chunk, 0);
  return n < 0 ? -1 : static_cast<long>(n);
}

void tcpClose(TcpSocket socket) {
  if (socket >= 0) closesocket(static_cast<SOCKET>(socket));
}

}  // namespace platform
