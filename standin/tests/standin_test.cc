// The stand-in engine through its C interface, as a host and as the Dart
// side (over a loopback socket) see it.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "embedding/flutter_windows.h"
#include "gtest/gtest.h"

namespace {

constexpr DWORD kWaitMs = 5000;

// Runs the platform thread's messages until |done| or the wait ends.
bool PumpUntil(const std::function<bool()>& done, DWORD wait_ms = kWaitMs) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(1);
  }
  return true;
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

FlutterDesktopEngineRef CreateEngine(
    const wchar_t* assets = L"data\\flutter_assets",
    const wchar_t* icu = L"data\\icudtl.dat") {
  static const char* const kArguments[] = {"first", "zweite \xEC\x95\x88"};
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets;
  properties.icu_data_path = icu;
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  properties.dart_entrypoint_argc = 2;
  properties.dart_entrypoint_argv = const_cast<const char**>(kArguments);
  return FlutterDesktopEngineCreate(&properties);
}

struct Frame {
  uint8_t kind = 0;
  std::vector<uint8_t> body;  // Without the kind byte.

  uint32_t U32(size_t offset) const {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= body.at(offset + i) << (8 * i);
    return value;
  }
  // A length-prefixed field at |*offset|, which moves past it.
  std::string Field(size_t* offset) const {
    const uint32_t size = U32(*offset);
    std::string text(body.begin() + *offset + 4,
                     body.begin() + *offset + 4 + size);
    *offset += 4 + size;
    return text;
  }
};

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutField(std::vector<uint8_t>* out, const std::string& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
}

// Plays the Dart side: listens on a loopback port named to the engine
// through ORVALIN_STANDIN_DART_SIDE.
class DartSide {
 public:
  DartSide() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 1);
    int size = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    const std::wstring value = L"127.0.0.1:" + std::to_wstring(port_);
    SetEnvironmentVariableW(L"ORVALIN_STANDIN_DART_SIDE", value.c_str());
  }

  int port() const { return port_; }

  // Whether an engine's connection waits in the backlog.
  bool HasPendingConnection() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait{0, 200 * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
  }
  ~DartSide() {
    SetEnvironmentVariableW(L"ORVALIN_STANDIN_DART_SIDE", nullptr);
    if (connection_ != INVALID_SOCKET) closesocket(connection_);
    closesocket(listener_);
    WSACleanup();
  }

  // After the engine was created: its connection is in the backlog.
  bool Accept() {
    connection_ = accept(listener_, nullptr, nullptr);
    DWORD timeout = kWaitMs;
    setsockopt(connection_, SOL_SOCKET, SO_RCVTIMEO,
               reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    return connection_ != INVALID_SOCKET;
  }

  // False on timeout or end of stream.
  bool Read(Frame* frame) {
    uint8_t prefix[4];
    if (!ReadExactly(prefix, 4)) return false;
    const uint32_t size = prefix[0] | prefix[1] << 8 | prefix[2] << 16 |
                          static_cast<uint32_t>(prefix[3]) << 24;
    std::vector<uint8_t> body(size);
    if (size == 0 || !ReadExactly(body.data(), size)) return false;
    frame->kind = body[0];
    frame->body.assign(body.begin() + 1, body.end());
    return true;
  }

  void SendMessageFrame(uint32_t id, const std::string& channel,
                        const std::string& payload) {
    std::vector<uint8_t> frame;
    PutU32(&frame, static_cast<uint32_t>(13 + channel.size() + payload.size()));
    frame.push_back(0x01);
    PutU32(&frame, id);
    PutField(&frame, channel);
    PutField(&frame, payload);
    send(connection_, reinterpret_cast<const char*>(frame.data()),
         static_cast<int>(frame.size()), 0);
  }

 private:
  bool ReadExactly(uint8_t* data, size_t size) {
    size_t offset = 0;
    while (offset < size) {
      const int received =
          recv(connection_, reinterpret_cast<char*>(data + offset),
               static_cast<int>(size - offset), 0);
      if (received <= 0) return false;
      offset += received;
    }
    return true;
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET connection_ = INVALID_SOCKET;
  int port_ = 0;
};

// Records what a messenger callback saw.
struct Incoming {
  int calls = 0;
  std::string payload;
  const FlutterDesktopMessageResponseHandle* handle = nullptr;
  DWORD thread = 0;
};

void RecordIncoming(FlutterDesktopMessengerRef /*messenger*/,
                    const FlutterDesktopMessage* message, void* user_data) {
  auto* incoming = static_cast<Incoming*>(user_data);
  ++incoming->calls;
  incoming->payload.assign(reinterpret_cast<const char*>(message->message),
                           message->message_size);
  incoming->handle = message->response_handle;
  incoming->thread = GetCurrentThreadId();
}

struct Reply {
  int calls = 0;
  std::string payload;
};

void RecordReply(const uint8_t* data, size_t size, void* user_data) {
  auto* reply = static_cast<Reply*>(user_data);
  ++reply->calls;
  reply->payload.assign(reinterpret_cast<const char*>(data), size);
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

TEST(StandinEngineTest, RefusesAMissingDataFolder) {
  EXPECT_EQ(CreateEngine(L"missing\\flutter_assets"), nullptr);
  EXPECT_EQ(CreateEngine(L"data\\flutter_assets", L"missing\\icudtl.dat"),
            nullptr);
  // The assets path must be a folder, not a file.
  EXPECT_EQ(CreateEngine(L"data\\app.so"), nullptr);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, nullptr), nullptr);
}

TEST(StandinEngineTest, ConnectsOnlyToALoopbackAddressWithPort) {
  DartSide dart;
  const std::wstring port = std::to_wstring(dart.port());
  for (const std::wstring& address : std::vector<std::wstring>{
           L"localhost:" + port, L"127.0.0.1:" + port + L"x", L"127.0.0.1",
           L"127.0.0.1:0", L"::1:" + port, L"127.0.0.1:99999"}) {
    SetEnvironmentVariableW(L"ORVALIN_STANDIN_DART_SIDE", address.c_str());
    FlutterDesktopEngineRef engine = CreateEngine();
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(dart.HasPendingConnection());
    FlutterDesktopEngineDestroy(engine);
  }
  SetEnvironmentVariableW(L"ORVALIN_STANDIN_DART_SIDE",
                          (L"127.0.0.1:" + port).c_str());
  FlutterDesktopEngineRef engine = CreateEngine();
  EXPECT_TRUE(dart.HasPendingConnection());
  FlutterDesktopEngineDestroy(engine);
}

TEST(StandinEngineTest, MessengerOutlivesTheEngineWhileReferenced) {
  FlutterDesktopEngineRef engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerUnlock(locked);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  locked = FlutterDesktopMessengerLock(messenger);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerUnlock(locked);
  Reply reply;
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "c", Bytes("x"), 1));
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger, "c", Bytes("x"),
                                                    1, RecordReply, &reply));
  PumpFor(50);
  EXPECT_EQ(reply.calls, 0);
  FlutterDesktopMessengerRelease(messenger);
}

TEST(StandinEngineTest, LockHoldsOffTeardown) {
  FlutterDesktopEngineRef engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  std::atomic<bool> locked{false};
  std::atomic<bool> released{false};
  std::thread holder([&] {
    FlutterDesktopMessengerRef held = FlutterDesktopMessengerLock(messenger);
    locked = true;
    Sleep(200);
    released = true;
    FlutterDesktopMessengerUnlock(held);
  });
  while (!locked) Sleep(1);
  FlutterDesktopEngineDestroy(engine);
  // Teardown had to wait for the holder's unlock.
  EXPECT_TRUE(released);
  holder.join();
  FlutterDesktopMessengerRelease(messenger);
}

TEST(StandinEngineTest, WithoutDartSideRepliesComeEmptyAndLater) {
  FlutterDesktopEngineRef engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine);
  Reply answered;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger, "c", Bytes("abc"),
                                                   3, RecordReply, &answered));
  EXPECT_EQ(answered.calls, 0);
  EXPECT_TRUE(PumpUntil([&] { return answered.calls > 0; }));
  Reply at_shutdown;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(
      messenger, "c", Bytes("abc"), 3, RecordReply, &at_shutdown));
  FlutterDesktopEngineDestroy(engine);
  PumpFor(50);
  EXPECT_EQ(answered.calls, 1);
  EXPECT_EQ(answered.payload, "");
  EXPECT_EQ(at_shutdown.calls, 1);
}

TEST(StandinViewTest, NextFrameCallbackRunsOnceOnThePlatformThread) {
  // The handle stays usable for callbacks once the controller owns it.
  FlutterDesktopEngineRef owned = CreateEngine();
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(200, 100, owned);
  ASSERT_NE(controller, nullptr);
  struct Frames {
    int calls = 0;
    DWORD thread = 0;
  } frames;
  FlutterDesktopEngineSetNextFrameCallback(
      owned,
      [](void* user_data) {
        auto* seen = static_cast<Frames*>(user_data);
        ++seen->calls;
        seen->thread = GetCurrentThreadId();
      },
      &frames);
  EXPECT_EQ(frames.calls, 0);
  EXPECT_TRUE(PumpUntil([&] { return frames.calls > 0; }));
  EXPECT_EQ(frames.thread, GetCurrentThreadId());
  FlutterDesktopViewControllerForceRedraw(controller);
  PumpFor(100);
  EXPECT_EQ(frames.calls, 1);
  FlutterDesktopViewControllerDestroy(controller);
}

TEST(StandinDartSideTest, MessageIsDeliveredAndAnsweredOnce) {
  DartSide dart;
  FlutterDesktopEngineRef engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  ASSERT_TRUE(dart.Accept());
  Frame frame;
  ASSERT_TRUE(dart.Read(&frame));
  ASSERT_EQ(frame.kind, 0x83);  // The engine_created event.
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine);
  Incoming incoming;
  FlutterDesktopMessengerSetCallback(messenger, "standin.test/c",
                                     RecordIncoming, &incoming);
  dart.SendMessageFrame(7, "standin.test/c", "ping");
  ASSERT_TRUE(PumpUntil([&] { return incoming.calls == 1; }));
  EXPECT_EQ(incoming.payload, "ping");
  EXPECT_EQ(incoming.thread, GetCurrentThreadId());
  FlutterDesktopMessengerSendResponse(messenger, incoming.handle, Bytes("pong"),
                                      4);
  FlutterDesktopMessengerSendResponse(messenger, incoming.handle,
                                      Bytes("again"), 5);
  ASSERT_TRUE(dart.Read(&frame));
  EXPECT_EQ(frame.kind, 0x81);
  EXPECT_EQ(frame.U32(0), 7u);
  size_t offset = 4;
  EXPECT_EQ(frame.Field(&offset), "pong");
  // The duplicate answer sent nothing: the next frame is a later message.
  ASSERT_TRUE(FlutterDesktopMessengerSend(messenger, "standin.test/h",
                                          Bytes("after"), 5));
  ASSERT_TRUE(dart.Read(&frame));
  EXPECT_EQ(frame.kind, 0x82);
  FlutterDesktopEngineDestroy(engine);
}

}  // namespace
