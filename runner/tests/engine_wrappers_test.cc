// The engine wrappers against a recording fake of the embedding.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "client/testing/fake_messenger.h"
#include "gtest/gtest.h"
#include "runner/engine_project.h"
#include "runner/flutter_engine.h"
#include "runner/flutter_view_controller.h"
#include "runner/tests/fake_embedding.h"

namespace flutter {
namespace {

using testing::FakeEmbedding;
using testing::FakeMessenger;

// Collects what is written to std::cerr while it lives.
class CerrCapture {
 public:
  CerrCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(previous_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
  std::streambuf* previous_;
};

class EngineWrappersTest : public ::testing::Test {
 protected:
  FakeMessenger messenger_;
  FakeEmbedding embedding_;
  EngineProject project_{L"data"};
};

TEST(EngineProjectTest, FolderGivesTheThreeRelativePaths) {
  EngineProject project(L"data");
  EXPECT_EQ(project.assets_path(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data\\icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data\\app.so");
  EXPECT_EQ(project.dart_entrypoint(), "");
  EXPECT_TRUE(project.dart_entrypoint_arguments().empty());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(project.engine_options()[i], 0);
}

TEST_F(EngineWrappersTest, PropertiesRecordWithoutArguments) {
  FlutterEngine engine(project_);
  ASSERT_EQ(embedding_.created_engines.size(), 1u);
  const testing::RecordedProperties& record = embedding_.created_engines[0];
  // The record points at the project's own strings.
  EXPECT_EQ(record.assets_path_pointer, project_.assets_path().c_str());
  EXPECT_EQ(record.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(record.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(record.aot_library_path, L"data\\app.so");
  EXPECT_FALSE(record.entrypoint_is_null);
  EXPECT_EQ(record.entrypoint, "");
  EXPECT_EQ(record.argc, 0);
  EXPECT_TRUE(record.argv_is_null);
  EXPECT_EQ(record.padding, 0);
  EXPECT_EQ(record.options[0], 0);
  EXPECT_EQ(record.options[1], 0);
  EXPECT_EQ(record.options[2], 0);
  EXPECT_EQ(record.reserved, 0);
}

TEST_F(EngineWrappersTest, PropertiesRecordCarriesArgumentsInOrder) {
  project_.set_dart_entrypoint_arguments(
      {"orvalinai://login-callback?code=1", "", "--second"});
  FlutterEngine engine(project_);
  ASSERT_EQ(embedding_.created_engines.size(), 1u);
  const testing::RecordedProperties& record = embedding_.created_engines[0];
  EXPECT_EQ(record.argc, 3);
  EXPECT_FALSE(record.argv_is_null);
  EXPECT_EQ(record.argv,
            (std::vector<std::string>{"orvalinai://login-callback?code=1", "",
                                      "--second"}));
}

TEST_F(EngineWrappersTest, MessengerSendsThroughTheEnginesMessenger) {
  FlutterEngine engine(project_);
  ASSERT_EQ(embedding_.messenger_requests, std::vector<FlutterDesktopEngineRef>{
                                               FakeEmbedding::EngineHandle()});
  const uint8_t bytes[] = {1, 2, 3};
  engine.GetMessenger()->SendMessage("orvalin.test/any", bytes, sizeof(bytes));
  ASSERT_EQ(messenger_.sent().size(), 1u);
  EXPECT_EQ(messenger_.sent()[0].channel, "orvalin.test/any");
  EXPECT_EQ(messenger_.sent()[0].bytes, std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(EngineWrappersTest, OwnedEngineIsDestroyedReleasedOneIsNot) {
  { FlutterEngine owned(project_); }
  EXPECT_EQ(embedding_.destroyed_engines, std::vector<FlutterDesktopEngineRef>{
                                              FakeEmbedding::EngineHandle()});
  embedding_.destroyed_engines.clear();
  {
    FlutterEngine released(project_);
    EXPECT_EQ(released.ReleaseHandle(), FakeEmbedding::EngineHandle());
    // The released handle still serves registrars.
    EXPECT_EQ(released.GetPluginRegistrar("UrlLauncherWindows"),
              FakeEmbedding::RegistrarHandle());
  }
  EXPECT_TRUE(embedding_.destroyed_engines.empty());
}

TEST_F(EngineWrappersTest, NextFrameCallbackRunsOnceOverTwoFrames) {
  FlutterEngine engine(project_);
  int runs = 0;
  engine.SetNextFrameCallback([&runs] { ++runs; });
  EXPECT_EQ(embedding_.next_frame_user_data, &engine);
  embedding_.PresentFrame();
  embedding_.PresentFrame();
  EXPECT_EQ(runs, 1);
}

TEST_F(EngineWrappersTest, LaterNextFrameCallbackReplacesOneNotYetRun) {
  FlutterEngine engine(project_);
  int first = 0;
  int second = 0;
  engine.SetNextFrameCallback([&first] { ++first; });
  engine.SetNextFrameCallback([&second] { ++second; });
  embedding_.PresentFrame();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(EngineWrappersTest, NextFrameCallbackMayArmTheFollowingOne) {
  FlutterEngine engine(project_);
  int first = 0;
  int second = 0;
  engine.SetNextFrameCallback([&] {
    ++first;
    engine.SetNextFrameCallback([&second] { ++second; });
  });
  embedding_.PresentFrame();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  embedding_.PresentFrame();
  embedding_.PresentFrame();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

TEST_F(EngineWrappersTest, RegistrarWithoutEngineWritesTheDiagnostic) {
  embedding_.engine_to_create = nullptr;
  FlutterEngine engine(project_);
  CerrCapture cerr;
  EXPECT_EQ(engine.GetPluginRegistrar("UrlLauncherWindows"), nullptr);
  EXPECT_EQ(cerr.text(),
            "Cannot get plugin registrar on an engine that isn't running; "
            "call Run first.\n");
  EXPECT_TRUE(embedding_.registrar_requests.empty());
}

TEST_F(EngineWrappersTest, RegistrarIsAskedOfTheEngineByName) {
  FlutterEngine engine(project_);
  CerrCapture cerr;
  EXPECT_EQ(engine.GetPluginRegistrar("VideoPlayerWinPluginCApi"),
            FakeEmbedding::RegistrarHandle());
  EXPECT_EQ(embedding_.registrar_requests,
            std::vector<std::string>{"VideoPlayerWinPluginCApi"});
  EXPECT_EQ(cerr.text(), "");
}

TEST_F(EngineWrappersTest, ControllerTakesTheEngineAndShutsItDown) {
  {
    FlutterViewController controller(1280, 720, project_);
    ASSERT_EQ(embedding_.controller_requests.size(), 1u);
    EXPECT_EQ(embedding_.controller_requests[0].width, 1280);
    EXPECT_EQ(embedding_.controller_requests[0].height, 720);
    EXPECT_EQ(embedding_.controller_requests[0].engine,
              FakeEmbedding::EngineHandle());
    ASSERT_NE(controller.view(), nullptr);
    EXPECT_EQ(controller.view()->GetHWND(), FakeEmbedding::ViewWindow());
    ASSERT_NE(controller.engine(), nullptr);
    controller.engine()->ReloadSystemFonts();
    controller.ForceRedraw();
    EXPECT_EQ(embedding_.font_reloads, 1);
    EXPECT_EQ(embedding_.redraws, 1);
  }
  EXPECT_EQ(embedding_.destroyed_controllers,
            std::vector<FlutterDesktopViewControllerRef>{
                FakeEmbedding::ControllerHandle()});
  EXPECT_TRUE(embedding_.destroyed_engines.empty());
}

TEST_F(EngineWrappersTest, FailedControllerKeepsTheEngineWithoutView) {
  embedding_.controller_to_create = nullptr;
  {
    CerrCapture cerr;
    FlutterViewController controller(800, 600, project_);
    EXPECT_EQ(cerr.text(), "Failed to create view controller.\n");
    EXPECT_EQ(controller.view(), nullptr);
    ASSERT_NE(controller.engine(), nullptr);
    EXPECT_NE(controller.engine()->GetMessenger(), nullptr);
  }
  // The embedding took the engine with the failed call.
  EXPECT_TRUE(embedding_.destroyed_controllers.empty());
  EXPECT_TRUE(embedding_.destroyed_engines.empty());
}

TEST_F(EngineWrappersTest, TopLevelMessagesGiveAResultOnlyWhenClaimed) {
  FlutterViewController controller(640, 480, project_);
  const HWND window = reinterpret_cast<HWND>(0x77);
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(window, WM_SIZE, 1, 2));
  embedding_.claim_window_messages = true;
  embedding_.window_message_result = 42;
  EXPECT_EQ(controller.HandleTopLevelWindowProc(window, WM_FONTCHANGE, 3, 4),
            std::optional<LRESULT>(42));
  ASSERT_EQ(embedding_.window_proc_calls.size(), 2u);
  const testing::WindowProcCall& call = embedding_.window_proc_calls[1];
  EXPECT_EQ(call.controller, FakeEmbedding::ControllerHandle());
  EXPECT_EQ(call.window, window);
  EXPECT_EQ(call.message, static_cast<UINT>(WM_FONTCHANGE));
  EXPECT_EQ(call.wparam, 3u);
  EXPECT_EQ(call.lparam, 4);
}

}  // namespace
}  // namespace flutter
