#include <gtest/gtest.h>

#include <utility>

#include "classlib/ComPtr.h"

namespace {

// An IUnknown that only counts its references.
struct Counted : IUnknown {
  ULONG refs = 1;  // a Create call hands out one reference
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(ComPtrTest, EveryReferenceTakenIsGivenBack) {
  Counted a, b;
  {
    cl::ComPtr<Counted> p(&a);  // adopts: no AddRef
    EXPECT_EQ(1u, a.refs);
    {
      cl::ComPtr<Counted> copy(p);
      EXPECT_EQ(2u, a.refs);
      cl::ComPtr<Counted> moved(std::move(copy));
      EXPECT_EQ(2u, a.refs);
      moved = p;  // self-equal assignment keeps the count
      EXPECT_EQ(2u, a.refs);
    }
    EXPECT_EQ(1u, a.refs);
    cl::ComPtr<Counted> other(&b);
    other = p;  // b released, a referenced again
    EXPECT_EQ(0u, b.refs);
    EXPECT_EQ(2u, a.refs);
  }
  EXPECT_EQ(0u, a.refs);
}

TEST(ComPtrTest, PutReleasesWhatIsHeldAndDetachKeepsIt) {
  Counted a, b;
  cl::ComPtr<Counted> p(&a);
  Counted** slot = p.put();
  EXPECT_EQ(0u, a.refs);
  *slot = &b;  // what an out-parameter call does
  EXPECT_EQ(&b, p.get());
  EXPECT_EQ(&b, p.detach());
  EXPECT_FALSE(p);
  EXPECT_EQ(1u, b.refs);
}

}  // namespace
