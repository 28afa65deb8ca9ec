#include "standin/dart_side.h"

#include <cstdio>
#include <cstring>

#include "standin/wire.h"

namespace standin {
namespace {

// How long the reader waits for data before it looks at the stop flag.
constexpr long kStopPollMicroseconds = 50 * 1000;

// Owns a getaddrinfo result.
struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// Owns a socket until it is handed on.
class SocketHolder {
 public:
  explicit SocketHolder(SOCKET socket) : socket_(socket) {}
  ~SocketHolder() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  SocketHolder(const SocketHolder&) = delete;
  SocketHolder& operator=(const SocketHolder&) = delete;
  SOCKET get() const { return socket_; }
  SOCKET release() {
    SOCKET socket = socket_;
    socket_ = INVALID_SOCKET;
    return socket;
  }

 private:
  SOCKET socket_;
};

bool IsLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    static const uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(&v6->sin6_addr, kLoopback, sizeof(kLoopback)) == 0;
  }
  return false;
}

bool SplitHostPort(const std::string& text, std::string* host,
                   std::string* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  } else if (host->find(':') != std::string::npos) {
    return false;  // IPv6 literals must be bracketed.
  }
  if (port->empty() || port->size() > 5) return false;
  for (char c : *port) {
    if (c < '0' || c > '9') return false;
  }
  const long number = std::strtol(port->c_str(), nullptr, 10);
  return number > 0 && number <= 65535;
}

}  // namespace

bool ParseLoopbackAddress(const std::string& text, sockaddr_storage* address,
                          int* address_size) {
  std::string host;
  std::string port;
  if (!SplitHostPort(text, &host, &port)) return false;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
    return false;
  }
  AddrInfoPtr info(found);
  if (info->ai_addrlen > sizeof(sockaddr_storage)) return false;
  std::memset(address, 0, sizeof(*address));
  std::memcpy(address, info->ai_addr, info->ai_addrlen);
  *address_size = static_cast<int>(info->ai_addrlen);
  return IsLoopback(*address);
}

DartSideConnection::WinsockSession::WinsockSession() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

DartSideConnection::WinsockSession::~WinsockSession() {
  if (ok_) WSACleanup();
}

std::unique_ptr<DartSideConnection> DartSideConnection::Connect(
    const std::string& address, HWND sink) {
  WinsockSession winsock;
  if (!winsock.ok()) return nullptr;
  sockaddr_storage target;
  int target_size = 0;
  if (!ParseLoopbackAddress(address, &target, &target_size)) {
    std::fprintf(stderr,
                 "standin: ignoring ORVALIN_STANDIN_DART_SIDE=%s (not a "
                 "loopback address and port)\n",
                 address.c_str());
    std::fflush(stderr);
    return nullptr;
  }
  SocketHolder socket(::socket(target.ss_family, SOCK_STREAM, IPPROTO_TCP));
  if (socket.get() == INVALID_SOCKET ||
      connect(socket.get(), reinterpret_cast<sockaddr*>(&target),
              target_size) != 0) {
    std::fprintf(stderr, "standin: cannot connect to the Dart side at %s\n",
                 address.c_str());
    std::fflush(stderr);
    return nullptr;
  }
  BOOL no_delay = TRUE;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<const char*>(&no_delay), sizeof(no_delay));
  return std::unique_ptr<DartSideConnection>(
      new DartSideConnection(socket.release(), sink));
}

DartSideConnection::DartSideConnection(SOCKET socket, HWND sink)
    : socket_(socket), sink_(sink) {
  reader_ = std::thread([this] { ReadLoop(); });
}

DartSideConnection::~DartSideConnection() {
  // Wine does not end a blocking receive when the socket is shut down, so
  // the reader polls this flag between waits.
  stopping_ = true;
  shutdown(socket_, SD_BOTH);
  if (reader_.joinable()) reader_.join();
  closesocket(socket_);
}

bool DartSideConnection::Send(const std::vector<uint8_t>& frame) {
  std::lock_guard<std::mutex> lock(write_lock_);
  if (broken_) return false;
  size_t offset = 0;
  while (offset < frame.size()) {
    const int sent =
        send(socket_, reinterpret_cast<const char*>(frame.data() + offset),
             static_cast<int>(frame.size() - offset), 0);
    if (sent <= 0) {
      broken_ = true;
      return false;
    }
    offset += static_cast<size_t>(sent);
  }
  return true;
}

bool DartSideConnection::WaitReadable() {
  while (!stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait{0, kStopPollMicroseconds};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
  return false;
}

bool DartSideConnection::ReadExactly(uint8_t* data, size_t size) {
  size_t offset = 0;
  while (offset < size) {
    if (!WaitReadable()) return false;
    const int received = recv(socket_, reinterpret_cast<char*>(data + offset),
                              static_cast<int>(size - offset), 0);
    if (received <= 0) return false;
    offset += static_cast<size_t>(received);
  }
  return true;
}

void DartSideConnection::ReadLoop() {
  for (;;) {
    uint8_t prefix[4];
    if (!ReadExactly(prefix, sizeof(prefix))) break;
    const uint32_t size = prefix[0] | (prefix[1] << 8) | (prefix[2] << 16) |
                          (static_cast<uint32_t>(prefix[3]) << 24);
    if (size == 0 || size > kMaxFrameBody) {
      std::fprintf(stderr, "standin: bad frame length %u from the Dart side\n",
                   size);
      std::fflush(stderr);
      break;
    }
    auto body = std::make_unique<std::vector<uint8_t>>(size);
    if (!ReadExactly(body->data(), size)) break;
    if (PostMessageW(sink_, kFrameReceived, 0,
                     reinterpret_cast<LPARAM>(body.get()))) {
      body.release();  // Now owned by the posted message.
    }
  }
  PostMessageW(sink_, kConnectionClosed, 0, 0);
}

}  // namespace standin
