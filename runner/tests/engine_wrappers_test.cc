// The engine wrappers against a recording fake of the embedding.
#include <memory>
#include <stdexcept>
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
using Events = std::vector<std::string>;

// Fields in layout order: paths, entrypoint, count, padding, arguments,
// options, reserved.
const std::string kCreate =
    "EngineCreate data\\flutter_assets|data\\icudtl.dat|data\\app.so||0|0|"
    "(null)|0|0|0|0";

class EngineWrappersTest : public ::testing::Test {
 protected:
  testing::FakeMessenger messenger_;
  testing::FakeEmbedding embedding_;
  EngineProject project_{L"data"};
};

// Only an owned engine is destroyed; a released handle still serves
// registrars.
TEST_F(EngineWrappersTest, PropertiesCarryThePathsAndArguments) {
  { FlutterEngine owned(project_); }
  project_.set_dart_entrypoint_arguments(
      {"orvalinai://login-callback?code=1", "", "--second"});
  {
    FlutterEngine released(project_);
    EXPECT_EQ(released.ReleaseHandle(), testing::kEngine);
    EXPECT_EQ(released.GetPluginRegistrar("UrlLauncherWindows"),
              testing::kRegistrar);
  }
  EXPECT_EQ(embedding_.events,
            (Events{kCreate, "EngineGetMessenger", "EngineDestroy",
                    "EngineCreate data\\flutter_assets|data\\icudtl.dat|"
                    "data\\app.so||3|0|[orvalinai://login-callback?code=1][]"
                    "[--second]|0|0|0|0",
                    "EngineGetMessenger",
                    "EngineGetPluginRegistrar UrlLauncherWindows"}));
}

TEST_F(EngineWrappersTest, NextFrameCallbackRunsOnceAndTheLatestWins) {
  FlutterEngine engine(project_);
  std::string ran;
  engine.SetNextFrameCallback([&] { ran += "replaced "; });
  // A running callback may arm the next one, which waits for the next frame.
  engine.SetNextFrameCallback([&] {
    ran += "first ";
    engine.SetNextFrameCallback([&] { ran += "second "; });
  });
  EXPECT_EQ(embedding_.next_frame_user_data, &engine);
  embedding_.PresentFrame();
  EXPECT_EQ(ran, "first ");
  embedding_.PresentFrame();
  embedding_.PresentFrame();
  EXPECT_EQ(ran, "first second ");
}

// The embedding's C frames lie between the trampoline and the engine.
TEST_F(EngineWrappersTest, AThrowingNextFrameCallbackStopsInTheTrampoline) {
  FlutterEngine engine(project_);
  engine.SetNextFrameCallback([] { throw std::runtime_error("frame"); });
  CerrCapture cerr;
  EXPECT_NO_THROW(embedding_.PresentFrame());
  EXPECT_EQ(cerr.text(), "Next-frame callback threw an exception; ignored.\n");
  int later = 0;
  engine.SetNextFrameCallback([&later] { ++later; });
  embedding_.PresentFrame();
  EXPECT_EQ(later, 1);
}

// A missing engine is never handed on, nor asked for registrars; a refused
// controller destroys nothing, as the embedding took the engine with it.
TEST_F(EngineWrappersTest, FailedCreationLeavesAnEngineWithoutView) {
  struct Case {
    FlutterDesktopEngineRef engine;
    FlutterDesktopViewControllerRef controller;
    Events events;
  };
  const Case cases[] = {
      {nullptr, testing::kController, {kCreate}},
      {testing::kEngine,
       nullptr,
       {kCreate, "EngineGetMessenger", "ViewControllerCreate 800x600",
        "EngineGetPluginRegistrar UrlLauncherWindows"}},
  };
  for (const Case& c : cases) {
    embedding_.events.clear();
    embedding_.engine_to_create = c.engine;
    embedding_.controller_to_create = c.controller;
    CerrCapture cerr;
    {
      FlutterViewController controller(800, 600, project_);
      EXPECT_EQ(controller.view(), nullptr);
      ASSERT_NE(controller.engine(), nullptr);
      EXPECT_EQ(controller.engine()->GetPluginRegistrar("UrlLauncherWindows"),
                c.engine ? testing::kRegistrar : nullptr);
    }
    EXPECT_EQ(cerr.text(), c.engine ? "Failed to create view controller.\n"
                                    : "Failed to create view controller.\n"
                                      "Cannot get plugin registrar on an "
                                      "engine that isn't running; call Run "
                                      "first.\n");
    EXPECT_EQ(embedding_.events, c.events);
  }
}

// The engine dispatches until its controller is destroyed, so the
// messenger's handlers must outlive that call.
TEST_F(EngineWrappersTest, ControllerGoesBeforeTheMessengerHandlers) {
  {
    FlutterViewController controller(1280, 720, project_);
    EXPECT_EQ(controller.view()->GetHWND(), testing::kViewWindow);
    EXPECT_EQ(
        embedding_.events,
        (Events{kCreate, "EngineGetMessenger", "ViewControllerCreate 1280x720",
                "ViewControllerGetView", "ViewGetHWND"}));
    std::shared_ptr<void> sentinel(nullptr, [this](void*) {
      embedding_.events.push_back("handler released");
    });
    controller.engine()->GetMessenger()->SetChannelHandler(
        "c", [sentinel](const uint8_t*, size_t, ReplyCallback) {});
    embedding_.events.clear();
  }
  EXPECT_EQ(embedding_.events,
            (Events{"ViewControllerDestroy", "handler released"}));
}

// A claimed message's result is its own number in the fake.
TEST_F(EngineWrappersTest, TopLevelMessagesGiveAResultOnlyWhenClaimed) {
  FlutterViewController controller(640, 480, project_);
  const HWND window = reinterpret_cast<HWND>(0x77);
  embedding_.events.clear();
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(window, WM_SIZE, 1, 2));
  embedding_.claim_window_messages = true;
  EXPECT_EQ(controller.HandleTopLevelWindowProc(window, WM_FONTCHANGE, 3, 4),
            std::optional<LRESULT>(WM_FONTCHANGE));
  EXPECT_EQ(embedding_.events, (Events{"HandleTopLevelWindowProc 119 5 1 2",
                                       "HandleTopLevelWindowProc 119 29 3 4"}));
}

}  // namespace
}  // namespace flutter
