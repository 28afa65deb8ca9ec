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

// Counts its references; never freed, so a leak or an extra release shows.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  ULONG references = 0;
};

// A new reference, as QueryInterface answers one.
IUnknown* Reference(CountedObject* object) {
  object->AddRef();
  return object;
}

TEST(ComPtr, ReleasesEveryReferenceItHeldOnce) {
  CountedObject a, b;
  {
    ComPtr<IUnknown> first(Reference(&a));
    ComPtr<IUnknown> second(Reference(&a));
    // Two references to one object: taking over the second drops the first.
    first = std::move(second);
    EXPECT_EQ(a.references, 1u);
    EXPECT_FALSE(second);
    first.Reset(Reference(&a));
    EXPECT_EQ(a.references, 1u);
    ComPtr<IUnknown>& same = first;
    first = std::move(same);
    EXPECT_EQ(first.Get(), &a);
    EXPECT_EQ(a.references, 1u);

    ComPtr<IUnknown> other(Reference(&b));
    first = std::move(other);
    EXPECT_EQ(a.references, 0u);
    EXPECT_EQ(b.references, 1u);
    *first.Put() = Reference(&a);
    EXPECT_EQ(b.references, 0u);
    ComPtr<IUnknown> moved(std::move(first));
    EXPECT_EQ(moved.Take(), &a);
    EXPECT_EQ(a.references, 1u);
  }
  EXPECT_EQ(a.references, 1u);  // taken: the caller's now
  EXPECT_EQ(b.references, 0u);
}

}  // namespace
}  // namespace orvalin::win
