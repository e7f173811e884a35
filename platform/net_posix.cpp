#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/net.h"

namespace platform {

TcpSocket tcpConnect(const char* host, uint16_t port, uint32_t timeoutMillis, char* error,
                     size_t errorSize) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  char service[8];
  snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  struct addrinfo* found = nullptr;
  int status = getaddrinfo(host, service, &hints, &found);
  if (status != 0) {
    snprintf(error, errorSize, "unknown host %s (%s)", host, gai_strerror(status));
    return -1;
  }
  int lastError = 0;
  int fd = -1;
  for (struct addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    struct timeval timeout;
    timeout.tv_sec = static_cast<time_t>(timeoutMillis / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((timeoutMillis % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      lastError = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) snprintf(error, errorSize, "cannot connect: %s", strerror(lastError));
  return fd;
}

bool tcpSendAll(TcpSocket socket, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(static_cast<int>(socket), p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long tcpReceive(TcpSocket socket, void* buffer, size_t size) {
  for (;;) {
    ssize_t n = recv(static_cast<int>(socket), buffer, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

void tcpClose(TcpSocket socket) {
  if (socket >= 0) close(static_cast<int>(socket));
}

}  // namespace platform
