#include "win/com.h"

#include <gtest/gtest.h>

#include <thread>

namespace orvalin::win {
namespace {

// On a fresh thread: optionally joins the MTA first, runs a single-threaded
// ComInitializer, then answers what a later CoInitializeEx(MTA) says: S_OK
// when no apartment is left, S_FALSE when the MTA is, RPC_E_CHANGED_MODE
// when the STA is.
HRESULT AfterStaInitializer(bool in_mta_before, bool abandon,
                            HRESULT* initializer_result) {
  HRESULT after = E_FAIL;
  std::thread([&] {
    if (in_mta_before) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      ComInitializer sta(COINIT_APARTMENTTHREADED);
      *initializer_result = sta.result();
      EXPECT_EQ(sta.ok(), SUCCEEDED(sta.result()));
      if (abandon) sta.Abandon();
    }
    // Whatever is left goes with the thread.
    after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }).join();
  return after;
}

TEST(ComInitializer, BalancesOnlyAnInitialisationThatSucceeded) {
  HRESULT result = E_FAIL;
  EXPECT_EQ(AfterStaInitializer(false, false, &result), S_OK);
  EXPECT_EQ(result, S_OK);
  // Already in the MTA: refused, and the MTA must survive it.
  EXPECT_EQ(AfterStaInitializer(true, false, &result), S_FALSE);
  EXPECT_EQ(result, RPC_E_CHANGED_MODE);
  // Abandoned: the STA outlives the object.
  EXPECT_EQ(AfterStaInitializer(false, true, &result), RPC_E_CHANGED_MODE);
  EXPECT_EQ(result, S_OK);
}

}  // namespace
}  // namespace orvalin::win
