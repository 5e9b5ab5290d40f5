// Stand-in for the Windows Sockets header on Linux, for the fuzz targets
// only: the types and calls the RTSP client names, with recv, send and
// select going to the target's own replies (StandIn* below, defined by the
// target). Nothing here opens a socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

typedef int SOCKET;
typedef uint32_t DWORD;
constexpr SOCKET INVALID_SOCKET = -1;

inline int closesocket(SOCKET) { return 0; }
inline int WSAGetLastError() { return 0; }
inline DWORD GetLastError() { return 0; }
#define _stricmp strcasecmp
#define SecureZeroMemory(p, n) std::memset((p), 0, (n))

int StandInRecv(SOCKET s, char* buffer, int length, int flags);
int StandInSend(SOCKET s, const char* data, int length, int flags);
int StandInSelect(int n, fd_set* readable, fd_set* writable, fd_set* failed, timeval* timeout);
int StandInSockName(SOCKET s, sockaddr* address, int* length);

#define recv(s, b, n, f) StandInRecv(s, b, n, f)
#define send(s, b, n, f) StandInSend(s, b, n, f)
#define select(n, r, w, e, t) StandInSelect(n, r, w, e, t)
#define getsockname(s, a, l) StandInSockName(s, a, l)
#define getpeername(s, a, l) StandInSockName(s, a, l)
