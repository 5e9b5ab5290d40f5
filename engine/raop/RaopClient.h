// The RAOP client: streams the encoded audio of a mirroring session to the
// receiver's audio service. An RTSP control connection (RtspClient.h)
// announces the stream (AAC-ELD 44100 Hz stereo, 480 samples a packet, or
// ALAC, 352), three local UDP sockets carry the RTP audio, the sync packets
// and the answers to the receiver's timing requests, and SET_PARAMETER sets
// the receiver's volume. No key is announced: the audio goes out unencrypted.
//
// C style: records allocated and freed by these functions, results 0 for
// success and -1 (or another negative value) for failure, diagnostic lines
// on the standard streams ("ERR: ", "INFO: ", "DBG: " prefixes).
//
// Threads: the capture thread sends frames, the session thread changes the
// volume; the audio sender's lock serialises both on one client. The timing
// thread touches only timingSock, timingAddr, timingStart and stop.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "engine/raop/RtspClient.h"

struct raop_client;
struct raop_session;

// Called by raopcl_poll_events with flags 1 (readable) or 2 (writable);
// non-zero stops the poll with -1.
using raop_fd_callback = int (*)(raop_session* session, raop_client* user, int flags);

struct raop_slot {
  SOCKET fd;                 // INVALID_SOCKET marks a free slot
  raop_client* user;
  raop_fd_callback callback;
  int flags;                 // bit 0 wait for readable, bit 1 wait for writable
};

constexpr int RAOP_SLOTS = 4;

struct raop_session {
  raop_client* client;
  void* reserved;            // always null
  raop_slot slots[RAOP_SLOTS];
  int useAlac;
};

struct raop_client {
  rtsp_client* rtsp;
  float volume;              // last volume sent, dB
  int pending;               // bytes of the current datagram still to send
  int sent;                  // bytes of it already sent
  uint8_t* packet;           // the current RTP datagram (growable)
  char* host;                // receiver address as given to raopcl_connect (growable)
  uint16_t port;             // receiver's RAOP port
  raop_session* session;
  int counter;               // 1 before the first packet, +1 a packet
  sockaddr_in serverAddr, controlAddr, timingAddr;
  SOCKET dataSock, timingSock, controlSock;
  uint16_t dataPort, timingPort, controlPort;  // their local ports
  volatile LONG64 timingStart;  // seconds since 1970 when the timing thread started
  HANDLE timingThread;
  volatile LONG stop;        // 1 ends the timing thread
  int useAlac;               // 1: ALAC, 352 samples a packet; 0: AAC-ELD, 480
};

// Samples per packet and packets between two sync packets.
constexpr int RAOP_FRAMES_AAC_ELD = 480;
constexpr int RAOP_FRAMES_ALAC = 352;
constexpr int RAOP_SAMPLE_RATE = 44100;
// The latency the SDP announces, in samples; sync packets are stamped with it.
constexpr int RAOP_LATENCY = 4100;
constexpr int RAOP_RTP_HEADER = 12;
constexpr int RAOP_SYNC_SIZE = 20;
constexpr int RAOP_TIMING_SIZE = 32;
// Bound of one datagram's wait for its socket in raopcl_send_frame.
constexpr unsigned RAOP_SEND_WAIT_MS = 3000;
// Bound of the wait for the timing thread; its receive wait is 1 s.
constexpr unsigned RAOP_TIMING_STOP_WAIT_MS = 3000;

inline int raopcl_frames(const raop_client* c) { return c->useAlac ? RAOP_FRAMES_ALAC : RAOP_FRAMES_AAC_ELD; }
inline int raopcl_sync_interval(const raop_client* c) { return RAOP_SAMPLE_RATE / raopcl_frames(c); }

// Opens a session: connects, announces, sets up, records and sets the volume
// to 0 dB. 0 with *out set, or -1 with nothing handed out and everything that
// was opened released.
int raopcl_start_session(const char* host, uint16_t port, const char* deviceId, raop_session** out,
                         int useAlac, const char* password);
// Stops the timing thread, closes the client and frees the session record.
void raopcl_end_session(raop_session* session);

raop_client* raopcl_open(raop_session* session, int useAlac);
int raopcl_connect(raop_client* client, const char* host, uint16_t port, const char* deviceId,
                   const char* password);
int raopcl_set_peer_addresses(raop_client* client, int which);
// Volume 0..100 as 10 * log2(volume / 100) dB limited to -144 .. 0; the RTSP
// result (0, 1 authorisation asked, -1).
int raopcl_update_volume(raop_client* client, int volume);
// The dB value raopcl_update_volume sends for a volume.
float raopcl_volume_db(int volume);

int raopcl_send_sample_udp(raop_client* client, const uint8_t* frame, int size);
int raopcl_send_sync_udp(raop_client* client, int counter);
// 1 when the packet could not be prepared; else 0 once the datagram left, a
// poll failed, or RAOP_SEND_WAIT_MS passed.
int raopcl_send_frame(raop_session* session, const uint8_t* frame, int size);
int raopcl_poll_events(raop_session* session);
int raopcl_register_fd(raop_session* session, SOCKET fd, int flags, raop_fd_callback callback,
                       raop_client* user);
int fd_event_callback_udp(raop_session* session, raop_client* client, int flags);

// Sets the stop flag and waits for the timing thread; bounded: when it has
// not ended after RAOP_TIMING_STOP_WAIT_MS its socket is closed under it,
// and as the last resort the thread is terminated. 0 when it ended by itself.
int raopcl_stop_timing(raop_client* client);
int raopcl_close_sockets(raop_client* client);

unsigned __stdcall timethingthreadfun(void* client);
// Timing requests the process has answered or seen (all clients).
long raopcl_timing_requests_seen();

// NTP time of the session clock used by sync and timing packets: the whole
// seconds since the timing thread started, counted from the NTP epoch, with
// the wall clock's current millisecond as fraction.
void raopcl_ntp_now(const raop_client* client, uint32_t* seconds, uint32_t* fraction);
