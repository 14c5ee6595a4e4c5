#include "engine/base/object.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

int DestroyedProbes = 0;

class TProbe : public TRCObject {
 public:
  ~TProbe() override { ++DestroyedProbes; }
};

// Throws from its constructor after the reference-counted base exists.
class TFailingProbe final : public TRCObject {
 public:
  TFailingProbe() { throw std::runtime_error("construction failed"); }
};

// Touches its own count while being destroyed.
class TSelfReleasingProbe final : public TRCObject {
 public:
  ~TSelfReleasingProbe() override { AddRef(); }
};

class ObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    LiveAtStart = TZObject::LiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  test::TTempDir Dir;
  int32_t LiveAtStart = 0;
};

TEST_F(ObjectTest, RegistryTracksLiveObjectsNewestFirst) {
  Ref<TProbe> a = MakeRef<TProbe>();
  Ref<TProbe> b = MakeRef<TProbe>();
  Ref<TProbe> c = MakeRef<TProbe>();
  EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart + 3);
  EXPECT_EQ(TZObject::NewestObject(), c.Get());
  EXPECT_EQ(c->Older(), b.Get());
  b.Reset();  // unlinking from the middle keeps the chain whole
  EXPECT_EQ(c->Older(), a.Get());
  c.Reset();
  EXPECT_EQ(TZObject::NewestObject(), a.Get());
}

TEST_F(ObjectTest, ReleaseDestroysOnlyWithTheLastReference) {
  DestroyedProbes = 0;
  auto* probe = new TProbe;
  probe->AddRef();
  probe->AddRef();
  probe->Release();
  EXPECT_EQ(probe->RefCount(), 2);
  probe->Release();
  EXPECT_EQ(DestroyedProbes, 0);
  probe->ReleaseLast();
  EXPECT_EQ(DestroyedProbes, 1);
}

TEST_F(ObjectTest, RefCopiesAddAndDestructorsRelease) {
  DestroyedProbes = 0;
  {
    Ref<TProbe> first = MakeRef<TProbe>();
    Ref<TProbe> second = first;
    EXPECT_EQ(first->RefCount(), 2);
    Ref<TRCObject> base = std::move(second);
    EXPECT_EQ(first->RefCount(), 2);
    EXPECT_FALSE(second);
    Ref<TProbe> shared = Ref<TProbe>::Share(*first);
    EXPECT_EQ(first->RefCount(), 3);
  }
  EXPECT_EQ(DestroyedProbes, 1);
}

TEST_F(ObjectTest, ConstructorThatThrowsLeavesNoObjectAndNoReport) {
  EXPECT_THROW(MakeRef<TFailingProbe>(), std::runtime_error);
}

TEST_F(ObjectTest, CountingViolationsAreFatal) {
  EXPECT_EXIT(
      {
        auto* probe = new TProbe;
        probe->AddRef();
        probe->ReleaseLast();
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EXIT(delete new TProbe, ::testing::ExitedWithCode(kFatalExitCode), "Err");
  EXPECT_EXIT(MakeRef<TSelfReleasingProbe>().Reset(), ::testing::ExitedWithCode(kFatalExitCode),
              "Err");
}

TEST_F(ObjectTest, CheckNoLiveObjectsPassesWhenNothingIsAlive) {
  if (LiveAtStart == 0) CheckNoLiveObjects();
}

TEST_F(ObjectTest, ClassNameDropsTheNamespace) {
  Ref<TProbe> probe = MakeRef<TProbe>();
  char buffer[64];
  EXPECT_STREQ(ObjectClassName(*probe, buffer, sizeof buffer), "TProbe");
}

}  // namespace
}  // namespace kor
