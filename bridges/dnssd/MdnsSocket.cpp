#include "bridges/dnssd/MdnsSocket.h"

#include <iphlpapi.h>

#include <algorithm>

#include "bridges/dnssd/MdnsPacket.h"

namespace mdns {

namespace {

constexpr uint32_t kGroup = 0xE00000FBu;  // 224.0.0.251, host order

uint32_t Mask(uint32_t prefixBits) {
  if (prefixBits == 0) return 0;
  if (prefixBits >= 32) return 0xFFFFFFFFu;
  return htonl(0xFFFFFFFFu << (32 - prefixBits));
}

}  // namespace

std::vector<LocalInterface> ListMulticastInterfaces() {
  std::vector<LocalInterface> list;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buf;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buf.resize(size);
    rc = GetAdaptersAddresses(AF_INET, flags, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
  }
  if (rc != NO_ERROR) return list;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || (a->Flags & IP_ADAPTER_NO_MULTICAST)) continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      LocalInterface li;
      li.ifIndex = a->IfIndex;
      li.address = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
      li.prefixBits = u->OnLinkPrefixLength;
      list.push_back(li);
      break;  // one address per interface is enough to join and send
    }
  }
  return list;
}

bool MdnsSocket::Open() {
  Close();
  sock_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock_ == INVALID_SOCKET) return false;
  BOOL on = TRUE;
  setsockopt(sock_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kMdnsPort);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(sock_, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0) {
    Close();
    return false;
  }
  u_long nonBlocking = 1;
  ioctlsocket(sock_, FIONBIO, &nonBlocking);
  // RFC 6762 11: mDNS datagrams go out with IP TTL 255.
  DWORD ttl = 255;
  setsockopt(sock_, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof(ttl));
  DWORD loop = 1;
  setsockopt(sock_, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop), sizeof(loop));
  // The arrival interface of each datagram, when the stack can tell it.
  DWORD pktinfo = 1;
  if (setsockopt(sock_, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&pktinfo),
                 sizeof(pktinfo)) == 0) {
    GUID guid = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (WSAIoctl(sock_, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof(guid), &recvMsg_,
                 sizeof(recvMsg_), &bytes, nullptr, nullptr) != 0)
      recvMsg_ = nullptr;
  }
  return true;
}

void MdnsSocket::Close() {
  if (sock_ != INVALID_SOCKET) closesocket(sock_);
  sock_ = INVALID_SOCKET;
  recvMsg_ = nullptr;
  joined_.clear();
}

std::vector<uint32_t> MdnsSocket::UpdateInterfaces() {
  std::vector<uint32_t> result;
  if (sock_ == INVALID_SOCKET) return result;
  const std::vector<LocalInterface> now = ListMulticastInterfaces();
  std::vector<LocalInterface> kept;
  for (const LocalInterface& li : now) {
    auto same = [&](const LocalInterface& j) {
      return j.ifIndex == li.ifIndex && j.address == li.address;
    };
    if (std::find_if(joined_.begin(), joined_.end(), same) == joined_.end()) {
      ip_mreq mreq{};
      mreq.imr_multiaddr.s_addr = htonl(kGroup);
      mreq.imr_interface.s_addr = li.address;
      const int rc = setsockopt(sock_, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                                reinterpret_cast<const char*>(&mreq), sizeof(mreq));
      // Joined already (a socket keeps memberships when an address moves)
      // counts as joined.
      if (rc != 0 && WSAGetLastError() != WSAEADDRINUSE) continue;
    }
    kept.push_back(li);
    result.push_back(li.ifIndex);
  }
  for (const LocalInterface& j : joined_) {
    auto same = [&](const LocalInterface& k) {
      return k.ifIndex == j.ifIndex && k.address == j.address;
    };
    if (std::find_if(kept.begin(), kept.end(), same) != kept.end()) continue;
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = htonl(kGroup);
    mreq.imr_interface.s_addr = j.address;
    setsockopt(sock_, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&mreq),
               sizeof(mreq));
  }
  joined_ = kept;
  return result;
}

bool MdnsSocket::Send(uint32_t ifIndex, const std::vector<uint8_t>& bytes) {
  if (sock_ == INVALID_SOCKET) return false;
  auto it = std::find_if(joined_.begin(), joined_.end(),
                         [&](const LocalInterface& j) { return j.ifIndex == ifIndex; });
  // Never send without naming the interface: the default route may lead
  // off the machine's links the caller meant.
  if (it == joined_.end()) return false;
  in_addr out{};
  out.s_addr = it->address;
  if (setsockopt(sock_, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&out),
                 sizeof(out)) != 0)
    return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kMdnsPort);
  to.sin_addr.s_addr = htonl(kGroup);
  const int n = sendto(sock_, reinterpret_cast<const char*>(bytes.data()),
                       static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof(to));
  return n == static_cast<int>(bytes.size());
}

uint32_t MdnsSocket::InterfaceFor(uint32_t source, uint32_t reported) const {
  for (const LocalInterface& j : joined_)
    if (reported != 0 && j.ifIndex == reported) return reported;
  for (const LocalInterface& j : joined_)
    if ((source & Mask(j.prefixBits)) == (j.address & Mask(j.prefixBits))) return j.ifIndex;
  // Loopback sources (127.0.0.0/8) arrive on the loopback interface even
  // when it reports a /8 only for its first address.
  if ((ntohl(source) >> 24) == 127) {
    for (const LocalInterface& j : joined_)
      if ((ntohl(j.address) >> 24) == 127) return j.ifIndex;
  }
  return joined_.empty() ? 0 : joined_.front().ifIndex;
}

bool MdnsSocket::Receive(std::vector<uint8_t>* bytes, uint32_t* ifIndex, uint16_t* sourcePort) {
  if (sock_ == INVALID_SOCKET) return false;
  bytes->resize(kMaxMessageBytes);
  sockaddr_in from{};
  uint32_t reported = 0;
  int n = -1;
  if (recvMsg_) {
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSABUF data;
    data.buf = reinterpret_cast<char*>(bytes->data());
    data.len = static_cast<ULONG>(bytes->size());
    WSAMSG msg{};
    msg.name = reinterpret_cast<sockaddr*>(&from);
    msg.namelen = sizeof(from);
    msg.lpBuffers = &data;
    msg.dwBufferCount = 1;
    msg.Control.buf = control;
    msg.Control.len = sizeof(control);
    DWORD got = 0;
    if (recvMsg_(sock_, &msg, &got, nullptr, nullptr) == 0) {
      n = static_cast<int>(got);
      for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c; c = WSA_CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
          const IN_PKTINFO* pi = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(c));
          reported = pi->ipi_ifindex;
        }
      }
      // A datagram larger than the buffer is cut: not a valid mDNS message.
      if (msg.dwFlags & MSG_TRUNC) n = 0;
    } else if (WSAGetLastError() == WSAEMSGSIZE) {
      n = 0;
    } else {
      return false;
    }
  } else {
    int fromLen = sizeof(from);
    n = recvfrom(sock_, reinterpret_cast<char*>(bytes->data()), static_cast<int>(bytes->size()), 0,
                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
      if (WSAGetLastError() != WSAEMSGSIZE) return false;
      n = 0;
    }
  }
  bytes->resize(static_cast<size_t>(n));
  *sourcePort = ntohs(from.sin_port);
  *ifIndex = InterfaceFor(from.sin_addr.s_addr, reported);
  return true;
}

}  // namespace mdns
