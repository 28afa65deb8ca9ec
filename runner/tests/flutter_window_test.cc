#include "runner/flutter_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runner/app_constants.h"
#include "runner/tests/tools/malformed_copydata.h"
#include "services/auth_callback_relay.h"

namespace {

// A window that was never created: no view controller, so every message
// goes straight to the window's own handling.
class UncreatedFlutterWindow : public FlutterWindow {
 public:
  UncreatedFlutterWindow() : FlutterWindow(flutter::EngineProject(L"data")) {}
  using FlutterWindow::HandleMessage;
};

// The payload bytes of a text, terminator included.
std::vector<char> Payload(const std::wstring& text) {
  std::vector<char> bytes((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

class ForwardedUrlTest : public testing::Test {
 protected:
  void SetUp() override {
    orvalin::AuthCallbackRelay::Instance().TakePending();
  }

  LRESULT Send(const COPYDATASTRUCT* record) {
    return window_.HandleMessage(nullptr, WM_COPYDATA, 0,
                                 reinterpret_cast<LPARAM>(record));
  }
  std::vector<std::wstring> Relayed() {
    return orvalin::AuthCallbackRelay::Instance().TakePending();
  }

  UncreatedFlutterWindow window_;
};

TEST_F(ForwardedUrlTest, RelaysAReturnUrlWhole) {
  const std::wstring url = L"orvalinai://payment-return?order=7&state=ok";
  std::vector<char> bytes = Payload(url);
  COPYDATASTRUCT record = {kReturnUrlCopyDataId,
                           static_cast<DWORD>(bytes.size()), bytes.data()};
  EXPECT_EQ(Send(&record), TRUE);
  EXPECT_EQ(Relayed(), std::vector<std::wstring>{url});
}

TEST_F(ForwardedUrlTest, EveryMalformedRecordAnswersTrueAndRelaysNothing) {
  EXPECT_EQ(Send(nullptr), TRUE);
  for (const MalformedCopyData& malformed : MalformedCopyDataRecords()) {
    EXPECT_EQ(Send(&malformed.record), TRUE) << malformed.name;
  }
  EXPECT_TRUE(Relayed().empty());
}

}  // namespace
