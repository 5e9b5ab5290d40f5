// The querier's one UDP socket: bound to port 5353 beside any other mDNS
// stack on the PC (SO_REUSEADDR), joined to 224.0.0.251 on every IPv4
// interface that is up and allows multicast (loopback too), and sending on
// one chosen interface at a time (IP_MULTICAST_IF), so a query never leaves
// by whatever the default route happens to be.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <cstdint>
#include <vector>

namespace mdns {

struct LocalInterface {
  uint32_t ifIndex = 0;
  uint32_t address = 0;  // network order
  uint32_t prefixBits = 32;
};

// The IPv4 interfaces that are up and allow multicast, in the system's order.
std::vector<LocalInterface> ListMulticastInterfaces();

class MdnsSocket {
 public:
  MdnsSocket() = default;
  ~MdnsSocket() { Close(); }
  MdnsSocket(const MdnsSocket&) = delete;
  MdnsSocket& operator=(const MdnsSocket&) = delete;

  // Non-blocking socket on port 5353; false when it cannot be made or bound.
  bool Open();
  void Close();
  SOCKET handle() const { return sock_; }

  // Joins the group on interfaces not joined yet, forgets those that left;
  // returns the interfaces now joined.
  std::vector<uint32_t> UpdateInterfaces();

  // Sends to 224.0.0.251:5353 out of the interface; false on failure.
  bool Send(uint32_t ifIndex, const std::vector<uint8_t>& bytes);

  // One waiting datagram: its bytes, arrival interface and source port.
  // False when none waits (or on error).
  bool Receive(std::vector<uint8_t>* bytes, uint32_t* ifIndex, uint16_t* sourcePort);

 private:
  uint32_t InterfaceFor(uint32_t sourceAddress, uint32_t reportedIndex) const;

  SOCKET sock_ = INVALID_SOCKET;
  LPFN_WSARECVMSG recvMsg_ = nullptr;
  std::vector<LocalInterface> joined_;
};

}  // namespace mdns
