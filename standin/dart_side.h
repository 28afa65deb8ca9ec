// The connection to a test that plays the Dart side: a loopback TCP socket
// carrying length-prefixed frames. A reader thread only posts received frame
// bodies to a window of the platform thread; everything else happens there.
#ifndef STANDIN_DART_SIDE_H_
#define STANDIN_DART_SIDE_H_

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

// Message posted to the sink window for every frame body received; lParam
// owns a heap std::vector<uint8_t>.
constexpr UINT kFrameReceived = WM_APP + 0x41;
// Posted once when the connection ends, whatever the reason.
constexpr UINT kConnectionClosed = WM_APP + 0x42;

// Parses "<ipv4>:<port>" or "[<ipv6>]:<port>" and accepts only loopback
// addresses (127.0.0.0/8, ::1). Needs Winsock started.
bool ParseLoopbackAddress(const std::string& text, sockaddr_storage* address,
                          int* address_size);

class DartSideConnection {
 public:
  // Null when |address| is not a loopback address or nobody listens there.
  static std::unique_ptr<DartSideConnection> Connect(const std::string& address,
                                                     HWND sink);
  // Stops the reader and closes the socket. Frames already posted stay in
  // the sink's queue; the sink owner drops them.
  ~DartSideConnection();

  DartSideConnection(const DartSideConnection&) = delete;
  DartSideConnection& operator=(const DartSideConnection&) = delete;

  // Writes one whole frame; false once the connection is broken.
  bool Send(const std::vector<uint8_t>& frame);

 private:
  DartSideConnection(SOCKET socket, HWND sink);
  void ReadLoop();
  // False once the connection is being closed.
  bool WaitReadable();
  bool ReadExactly(uint8_t* data, size_t size);

  // Keeps Winsock started for as long as the socket exists.
  class WinsockSession {
   public:
    WinsockSession();
    ~WinsockSession();
    bool ok() const { return ok_; }

   private:
    bool ok_ = false;
  };

  WinsockSession winsock_;
  SOCKET socket_;
  HWND sink_;
  std::mutex write_lock_;
  std::atomic<bool> broken_{false};
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace standin

#endif  // STANDIN_DART_SIDE_H_
