#include "engine/storage/re_object.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/ref.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

// Records its destruction, and may drop a use of another object when it
// goes (as a page drops its use on its parent).
class TTracedObject final : public TREObject {
 public:
  TTracedObject(TREManager& manager, char name, std::vector<char>& log)
      : TREObject(manager), Tag(name), Log(log) {}
  ~TTracedObject() override {
    Log.push_back(Tag);
    if (Holds != nullptr) Holds->DropUse();
  }
  char Name() const { return Tag; }
  void Hold(TREObject& other) {
    other.AddUse();
    Holds = &other;
  }

 private:
  char Tag;
  std::vector<char>& Log;
  TREObject* Holds = nullptr;
};

std::string IdleOrder(const TREManager& manager) {
  std::string names;
  for (const TREObject* o = manager.IdleOldest(); o != nullptr; o = o->NewerIdle()) {
    names += static_cast<const TTracedObject*>(o)->Name();
  }
  return names;
}

class REObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFile(Dir.File("KORLIB.OUT"));
    Manager->Activate();
  }
  void TearDown() override {
    while (Manager->ActiveCount() > 0) Manager->Deactivate();
  }
  // Runs `body` in a child process and returns the log of its fatal report.
  std::string FatalLogOf(const std::function<void()>& body) {
    std::string log = Dir.File("fatal" + std::to_string(++FatalRuns) + ".OUT");
    EXPECT_EXIT(
        {
          SetLogFile(log);
          body();
        },
        ::testing::ExitedWithCode(kFatalExitCode), "Err");
    return test::ReadWholeFile(log);
  }
  int FatalRuns = 0;

  test::TTempDir Dir;
  Ref<TREManager> Manager = MakeRef<TREManager>();
  std::vector<char> Destroyed;
};

TEST_F(REObjectTest, NewObjectsAreIdleInCreationOrder) {
  auto* a = new TTracedObject(*Manager, 'a', Destroyed);
  auto* b = new TTracedObject(*Manager, 'b', Destroyed);
  auto* c = new TTracedObject(*Manager, 'c', Destroyed);
  EXPECT_EQ(Manager->ObjectCount(), 3);
  EXPECT_EQ(Manager->IdleOldest(), a);
  EXPECT_EQ(Manager->IdleNewest(), c);
  EXPECT_EQ(a->NewerIdle(), b);
  EXPECT_EQ(c->OlderIdle(), b);
  EXPECT_EQ(IdleOrder(*Manager), "abc");
}

TEST_F(REObjectTest, UsedObjectsLeaveTheIdleListAndReturnAtTheNewestEnd) {
  auto* a = new TTracedObject(*Manager, 'a', Destroyed);
  auto* b = new TTracedObject(*Manager, 'b', Destroyed);
  auto* c = new TTracedObject(*Manager, 'c', Destroyed);
  b->AddUse();
  b->AddUse();
  EXPECT_EQ(b->UseCount(), 2);
  EXPECT_EQ(Manager->IdleCount(), 2);
  EXPECT_EQ(a->NewerIdle(), c);
  EXPECT_EQ(IdleOrder(*Manager), "ac");
  b->DropUse();
  EXPECT_EQ(IdleOrder(*Manager), "ac");
  b->DropUse();
  EXPECT_EQ(IdleOrder(*Manager), "acb");
}

TEST_F(REObjectTest, LastDeactivationDestroysIdleObjectsNewestFirst) {
  new TTracedObject(*Manager, 'a', Destroyed);
  auto* b = new TTracedObject(*Manager, 'b', Destroyed);
  new TTracedObject(*Manager, 'c', Destroyed);
  b->AddUse();
  Manager->Activate();
  Manager->Deactivate();  // still active once: nothing goes
  EXPECT_TRUE(Destroyed.empty());
  b->DropUse();
  Manager->Deactivate();
  EXPECT_EQ(std::string(Destroyed.begin(), Destroyed.end()), "bca");
  EXPECT_EQ(Manager->ObjectCount(), 0);
  EXPECT_EQ(Manager->IdleCount(), 0);
}

TEST_F(REObjectTest, ObjectsMadeIdleDuringDeactivationAreDestroyedToo) {
  auto* parent = new TTracedObject(*Manager, 'p', Destroyed);
  auto* child = new TTracedObject(*Manager, 'c', Destroyed);
  child->Hold(*parent);
  Manager->Deactivate();
  EXPECT_EQ(std::string(Destroyed.begin(), Destroyed.end()), "cp");
  EXPECT_EQ(Manager->ObjectCount(), 0);
}

TEST_F(REObjectTest, DestroyingAnIdleObjectDirectlyUnregistersIt) {
  auto* a = new TTracedObject(*Manager, 'a', Destroyed);
  auto* b = new TTracedObject(*Manager, 'b', Destroyed);
  delete a;
  EXPECT_EQ(Manager->ObjectCount(), 1);
  EXPECT_EQ(Manager->IdleOldest(), b);
  EXPECT_EQ(b->OlderIdle(), nullptr);
}

TEST_F(REObjectTest, ActivationNestsUpToFive) {
  for (int i = 2; i <= TREManager::kMaxActive; ++i) Manager->Activate();
  EXPECT_EQ(Manager->ActiveCount(), 5);
  std::string log = FatalLogOf([&] { Manager->Activate(); });
  EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
  EXPECT_NE(log.find("re_object.cpp"), std::string::npos) << log;
}

TEST_F(REObjectTest, BookkeepingMistakesAreFatal) {
  struct TCase {
    const char* Name;
    std::function<void(TREManager&, std::vector<char>&)> Body;
  };
  const TCase cases[] = {
      {"object of an inactive manager",
       [](TREManager&, std::vector<char>& log) {
         auto idle = MakeRef<TREManager>();
         new TTracedObject(*idle, 'x', log);
       }},
      {"drop without a use",
       [](TREManager& m, std::vector<char>& log) { (new TTracedObject(m, 'x', log))->DropUse(); }},
      {"destroying a used object",
       [](TREManager& m, std::vector<char>& log) {
         auto* object = new TTracedObject(m, 'x', log);
         object->AddUse();
         delete object;
       }},
      {"deactivating an inactive manager",
       [](TREManager& m, std::vector<char>&) {
         m.Deactivate();
         m.Deactivate();
       }},
      {"manager destroyed while active",
       [](TREManager&, std::vector<char>&) {
         auto other = MakeRef<TREManager>();
         other->Activate();
         other.Reset();
       }},
      {"manager destroyed with a live object",
       [](TREManager&, std::vector<char>& log) {
         auto other = MakeRef<TREManager>();
         other->Activate();
         (new TTracedObject(*other, 'x', log))->AddUse();
         other->Deactivate();
         other.Reset();
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string log = FatalLogOf([&] { c.Body(*Manager, Destroyed); });
    EXPECT_NE(log.find("ErrB"), std::string::npos) << log;
    EXPECT_NE(log.find("re_object.cpp"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace kor
