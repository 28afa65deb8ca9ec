// The engine wrappers against a recording fake of the embedding.
#include <string>
#include <vector>

#include "client/testing/fake_messenger.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"
#include "runner/engine_project.h"
#include "runner/flutter_engine.h"
#include "runner/flutter_view_controller.h"
#include "runner/tests/fake_embedding.h"

namespace flutter {
namespace {

using testing::CerrCapture;
using testing::FakeEmbedding;
using testing::FakeMessenger;

class EngineWrappersTest : public ::testing::Test {
 protected:
  FakeMessenger messenger_;
  FakeEmbedding embedding_;
  EngineProject project_{L"data"};
};

TEST_F(EngineWrappersTest, PropertiesRecordThePathsAndArguments) {
  { FlutterEngine engine(project_); }
  project_.set_dart_entrypoint_arguments(
      {"orvalinai://login-callback?code=1", "", "--second"});
  FlutterEngine engine(project_);
  ASSERT_EQ(embedding_.created_engines.size(), 2u);
  const testing::RecordedProperties& bare = embedding_.created_engines[0];
  // The record points at the project's own strings.
  EXPECT_EQ(bare.assets_path_pointer, project_.assets_path().c_str());
  EXPECT_EQ(bare.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(bare.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(bare.aot_library_path, L"data\\app.so");
  EXPECT_FALSE(bare.entrypoint_is_null);
  EXPECT_EQ(bare.entrypoint, "");
  EXPECT_EQ(bare.argc, 0);
  EXPECT_TRUE(bare.argv_is_null);
  EXPECT_EQ(bare.padding, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bare.options[i], 0);
  EXPECT_EQ(bare.reserved, 0);
  const testing::RecordedProperties& with = embedding_.created_engines[1];
  EXPECT_EQ(with.argc, 3);
  EXPECT_FALSE(with.argv_is_null);
  EXPECT_EQ(with.argv,
            (std::vector<std::string>{"orvalinai://login-callback?code=1", "",
                                      "--second"}));
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

TEST_F(EngineWrappersTest, NextFrameCallbackRunsOnceAndTheLatestWins) {
  FlutterEngine engine(project_);
  int replaced = 0;
  int first = 0;
  int second = 0;
  engine.SetNextFrameCallback([&replaced] { ++replaced; });
  EXPECT_EQ(embedding_.next_frame_user_data, &engine);
  // A later callback replaces one not yet run; a running one may arm the
  // following one, which waits for the next frame.
  engine.SetNextFrameCallback([&] {
    ++first;
    engine.SetNextFrameCallback([&second] { ++second; });
  });
  embedding_.PresentFrame();
  EXPECT_EQ(replaced, 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  embedding_.PresentFrame();
  embedding_.PresentFrame();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

// Asking a running engine by name: tests/e2e, through the app's plugins.
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
