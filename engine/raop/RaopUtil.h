// Small routines shared by the RAOP client and its RTSP connection: heap
// buffer growth, local UDP port allocation, TCP connection set-up, base64,
// and the module's diagnostic lines.
//
// C style: plain functions, 0 or a valid handle for success, -1 for failure,
// one diagnostic line per failure ("ERR: ", "INFO: ", "DBG: " prefixes) on the
// standard error stream.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <cstdio>

// Every diagnostic line of the RAOP module is also handed, complete and
// without its line end, to this hook when one is set (the engine's log, or a
// test). Set it before sessions start; it may be called from any thread.
using RaopMessageHook = void (*)(const char* line);
void raopcl_set_message_hook(RaopMessageHook hook);

// Prints one formatted line to stream (flushed) and passes it to the hook.
void raop_print(FILE* stream, const char* fmt, ...) __attribute__((format(ms_printf, 2, 3)));

// Reallocates *buffer to the smallest of 16, 32, 64 ... 2048 bytes that holds
// needed bytes, or to exactly needed when that is above 2048; the content is
// kept up to the smaller size. On failure prints "ERR: <who>: realloc failed"
// and leaves the buffer as it was.
int raopcl_grow_buffer(uint8_t** buffer, int needed, const char* who);
int raopcl_grow_buffer(char** buffer, int needed, const char* who);
// The size raopcl_grow_buffer gives for needed bytes.
int raopcl_buffer_size_for(int needed);

// A UDP socket bound to the wildcard address at the next free port of the
// process-wide counter (7000..8000, starting again at 7000 once the counter
// passed 8000; 7010, the NTP answer service's port, is never taken); *port
// receives the bound port. INVALID_SOCKET when no socket
// could be made or no port up to 8000 was free (the socket layer's last
// error is kept for the caller). Ports are taken on one thread at a time.
SOCKET raopcl_bind_udp_port(uint16_t* port);
// The next port the search starts at; tests move it to show the wrap.
uint16_t raopcl_udp_port_counter();
void raopcl_set_udp_port_counter(uint16_t port);

// Binds sock to the wildcard address and *port; when *port is 0 it receives
// the port the system chose.
int bind_local_port(SOCKET sock, uint16_t* port);

// Resolves host (a name, else a dotted IPv4 address) and connects with one
// retry after 100 ms. Each attempt is bounded (a receiver that never answers
// the SYN does not hold the caller for the system's own long time-out).
int tcp_connect_host(SOCKET sock, const char* host, uint16_t port);
int tcp_connect_retry(SOCKET sock, const sockaddr_in* address);
// First IPv4 address of host (name or dotted text); false when none.
bool raopcl_resolve_host(const char* host, in_addr* out);

// Standard base64 with '=' padding into a new heap string (free()) of
// 4 * length / 3 + 4 bytes; the text length, or -1.
int base64_encode(const uint8_t* data, int length, char** out);
// Deletes every '=' of text in place; the number removed.
int strip_base64_padding(char* text);

// Milliseconds of a monotonic clock, for the module's deadlines.
uint64_t raopcl_now_ms();
