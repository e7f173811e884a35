// TCP client sockets, for tools that talk to a running program (snp pull).
// Kept apart from platform.h: the agent never opens a socket, so it links
// neither half. One implementation per OS: net_posix.cpp and net_windows.cpp.
//
// Thread-safety: every function may be called from any thread; one socket is
// used by one thread at a time.
#ifndef CCOVER_PLATFORM_NET_H_
#define CCOVER_PLATFORM_NET_H_

#include <stddef.h>
#include <stdint.h>

namespace platform {

// An open connection; a negative value is none.
typedef intptr_t TcpSocket;

// Connects to host (a name, an IPv4 address or a bare IPv6 address) and port,
// trying each address the name resolves to. Reads and writes on the socket
// give up after timeoutMillis of silence. On failure returns -1 with a
// one-line reason in error ("connection refused", "unknown host").
TcpSocket tcpConnect(const char* host, uint16_t port, uint32_t timeoutMillis, char* error,
                     size_t errorSize);
// Sends all size bytes; false on failure or timeout.
bool tcpSendAll(TcpSocket socket, const void* data, size_t size);
// Receives up to size bytes: the count, 0 at the end of the stream, -1 on
// failure or timeout.
long tcpReceive(TcpSocket socket, void* buffer, size_t size);
void tcpClose(TcpSocket socket);

}  // namespace platform

#endif  // CCOVER_PLATFORM_NET_H_
