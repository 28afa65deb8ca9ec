#include "win/unique_handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace orvalin::win {
namespace {

struct CountingTraits;
using Counted = UniqueHandle<CountingTraits>;
int g_closes = 0;
const Counted* g_owner = nullptr;  // whose handle is closing
HANDLE g_held_while_closing = nullptr;

struct CountingTraits {
  using Handle = HANDLE;
  static void Close(Handle) {
    ++g_closes;
    if (g_owner != nullptr) g_held_while_closing = g_owner->Get();
  }
};

const HANDLE kSome = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x44));
const HANDLE kOther = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x48));

TEST(UniqueHandle, ClosedOnceByItsLastOwnerNeverWhenEmptyOrTaken) {
  g_closes = 0;
  {
    // Win32 answers failure with either; neither is a handle to close.
    EXPECT_FALSE(Counted(nullptr).IsValid());
    EXPECT_FALSE(Counted(INVALID_HANDLE_VALUE).IsValid());
    Counted first(kSome);
    Counted second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    Counted third(kOther);
    third = std::move(second);  // closes kOther
    third = std::move(third);
    third.Reset(kSome);
    EXPECT_EQ(g_closes, 1);
    EXPECT_EQ(Counted(kOther).Take(), kOther);
  }
  EXPECT_EQ(g_closes, 2);
}

// A window's WM_DESTROY runs inside DestroyWindow and asks its owner for
// the handle again: by then the owner must hold none.
TEST(UniqueHandle, OwnerIsEmptyWhileItsHandleCloses) {
  Counted handle(kSome);
  g_owner = &handle;
  g_held_while_closing = kOther;
  handle.Reset();
  g_owner = nullptr;
  EXPECT_EQ(g_held_while_closing, nullptr);
}

}  // namespace
}  // namespace orvalin::win
