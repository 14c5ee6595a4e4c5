#include "engine/base/containers.h"

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

// Counts its destructions in a counter the test owns.
class TProbe final : public TRCObject {
 public:
  explicit TProbe(int* destroyed) : Destroyed(destroyed) {}
  ~TProbe() override { ++*Destroyed; }

 private:
  int* Destroyed;
};

class TOtherProbe final : public TRCObject {};

class ContainersTest : public ::testing::Test {
 protected:
  void SetUp() override { LiveAtStart = TZObject::LiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  int32_t LiveAtStart = 0;
  int Destroyed = 0;
};

TEST_F(ContainersTest, StackDoublesItsCapacityAndPopsInReverseOrder) {
  Ref<TIntegerStack> stack = MakeRef<TIntegerStack>();
  EXPECT_TRUE(stack->IsEmpty());
  EXPECT_EQ(stack->Capacity(), 4);
  for (int32_t value = 1; value <= 5; ++value) stack->Push(value * 10);
  EXPECT_EQ(stack->Capacity(), 8);
  EXPECT_EQ(stack->Count(), 5);
  for (int32_t value = 5; value >= 1; --value) EXPECT_EQ(stack->Pop(), value * 10);
  EXPECT_TRUE(stack->IsEmpty());
  EXPECT_EQ(stack->Capacity(), 8);
}

TEST_F(ContainersTest, ContractViolationsAreFatal) {
  struct TCase {
    const char* Name;
    std::function<void()> Body;
  };
  const TCase cases[] = {
      {"Pop on an empty stack", [] { MakeRef<TIntegerStack>()->Pop(); }},
      {"matrix Get(0)",
       [] {
         Ref<TIntegerMatrix> matrix = MakeRef<TIntegerMatrix>();
         matrix->Add(7);
         matrix->Get(0);
       }},
      {"matrix Get(Count + 1)",
       [] {
         Ref<TIntegerMatrix> matrix = MakeRef<TIntegerMatrix>();
         matrix->Add(7);
         matrix->Get(2);
       }},
      {"vector Delete past the end",
       [] {
         Ref<TIntegerVector> vector = MakeRef<TIntegerVector>();
         vector->Add("A", 1);
         vector->Delete(2);
       }},
      {"holder Get of a freed handle",
       [] {
         int destroyed = 0;
         Ref<TObjectHolder> holder = MakeRef<TObjectHolder>();
         int32_t handle = holder->Add(MakeRef<TProbe>(&destroyed));
         holder->Remove(handle);
         holder->Get(handle);
       }},
      {"holder Add of null", [] { MakeRef<TObjectHolder>()->Add(nullptr); }},
      {"holder GetAs of the wrong class",
       [] {
         Ref<TObjectHolder> holder = MakeRef<TObjectHolder>();
         holder->GetAs<TProbe>(holder->Add(MakeRef<TOtherProbe>()));
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    EXPECT_EXIT(
        {
          SetLogFile(dir.File("KORLIB.OUT"));
          c.Body();
        },
        ::testing::ExitedWithCode(kFatalExitCode), "");
  }
}

TEST_F(ContainersTest, IntegerMatrixKeepsInsertionOrder) {
  Ref<TIntegerMatrix> matrix = MakeRef<TIntegerMatrix>();
  for (int32_t value : {30, 10, 20}) matrix->Add(value);
  ASSERT_EQ(matrix->Count(), 3);
  EXPECT_EQ(matrix->Get(1), 30);
  EXPECT_EQ(matrix->Get(2), 10);
  EXPECT_EQ(matrix->Get(3), 20);
}

TEST_F(ContainersTest, ObjectMatrixGetHandsOutAReferenceAndDestructionReleasesEachOnce) {
  Ref<TObjectMatrix> matrix = MakeRef<TObjectMatrix>();
  for (int i = 0; i < 3; ++i) matrix->Add(MakeRef<TProbe>(&Destroyed));
  {
    Ref<TRCObject> second = matrix->Get(2);
    EXPECT_EQ(second->RefCount(), 2);
  }
  EXPECT_EQ(matrix->Get(2)->RefCount(), 2);  // the temporary's reference
  EXPECT_EQ(Destroyed, 0);
  matrix.ReleaseLast();
  EXPECT_EQ(Destroyed, 3);
}

TEST_F(ContainersTest, VectorDeleteMovesTheLastEntryIntoTheGap) {
  Ref<TIntegerVector> vector = MakeRef<TIntegerVector>();
  EXPECT_EQ(vector->Add("A", 1), 1);
  vector->Add("B", 2);
  vector->Add("C", 3);
  vector->Delete(1);
  ASSERT_EQ(vector->Count(), 2);
  EXPECT_EQ(vector->GetName(1), "C");
  EXPECT_EQ(vector->Get(1), 3);
  EXPECT_EQ(vector->GetName(2), "B");
  EXPECT_EQ(vector->Get(2), 2);
  vector->Delete(2);  // the last entry itself
  ASSERT_EQ(vector->Count(), 1);
  EXPECT_EQ(vector->GetName(1), "C");
}

TEST_F(ContainersTest, IndexOfIgnoresTheCaseOfAsciiLettersAndFindsTheFirst) {
  Ref<TIntegerVector> vector = MakeRef<TIntegerVector>();
  for (const char* name : {"Alpha", "beta", "BETA", "gr\xC4n", "x_1"}) vector->Add(name, 0);
  struct TCase {
    const char* Name;
    int32_t Position;
  };
  const TCase cases[] = {
      {"ALPHA", 1}, {"alpha", 1},  {"Beta", 2}, {"gr\xC4N", 4}, {"gr\xE4n", -1},
      {"X_1", 5},   {"gamma", -1}, {"", -1},    {"Alph", -1},
  };
  for (const TCase& c : cases) EXPECT_EQ(vector->IndexOf(c.Name), c.Position) << c.Name;
}

TEST_F(ContainersTest, ObjectVectorCountsItsReferences) {
  Ref<TObjectVector> vector = MakeRef<TObjectVector>();
  TRCObject* first = vector->Add("first", MakeRef<TProbe>(&Destroyed));
  vector->Add("second", MakeRef<TProbe>(&Destroyed));
  vector->Add("third", MakeRef<TProbe>(&Destroyed));
  EXPECT_EQ(first->RefCount(), 1);
  {
    Ref<TRCObject> got = vector->Get(1);
    EXPECT_EQ(got.Get(), first);
    EXPECT_EQ(first->RefCount(), 2);
    Ref<TProbe> typed = vector->GetAs<TProbe>(1);
    EXPECT_EQ(first->RefCount(), 3);
  }
  EXPECT_EQ(first->RefCount(), 1);
  vector->Remove(1);
  EXPECT_EQ(Destroyed, 1);
  EXPECT_EQ(vector->GetName(1), "third");
  vector.ReleaseLast();
  EXPECT_EQ(Destroyed, 3);
}

using TProbeFactory = Ref<TRCObject> (*)(int*);

Ref<TRCObject> MakeProbe(int* destroyed) { return MakeRef<TProbe>(destroyed); }
Ref<TRCObject> MakeOtherProbe(int*) { return MakeRef<TOtherProbe>(); }

TEST_F(ContainersTest, ClassVectorCreatesInstancesFromTheFactoryFoundByName) {
  Ref<TClassVector<TProbeFactory>> classes = MakeRef<TClassVector<TProbeFactory>>();
  classes->Add("PROBE", &MakeProbe);
  EXPECT_EQ(classes->Add("OTHER", &MakeOtherProbe), &MakeOtherProbe);
  int32_t position = classes->IndexOf("probe");
  ASSERT_EQ(position, 1);
  Ref<TRCObject> made = classes->Get(position)(&Destroyed);
  EXPECT_NE(dynamic_cast<TProbe*>(made.Get()), nullptr);
  made.ReleaseLast();
  EXPECT_EQ(Destroyed, 1);
}

TEST_F(ContainersTest, HolderReusesTheMostRecentlyFreedHandleFirst) {
  Ref<TObjectHolder> holder = MakeRef<TObjectHolder>();
  for (int32_t expected : {1, 2, 3}) EXPECT_EQ(holder->Add(MakeRef<TProbe>(&Destroyed)), expected);
  holder->Remove(1);
  holder->Remove(3);
  EXPECT_EQ(Destroyed, 2);
  EXPECT_TRUE(holder->IsFree(1));
  EXPECT_FALSE(holder->IsFree(2));
  EXPECT_TRUE(holder->IsFree(4));
  EXPECT_EQ(holder->LiveCount(), 1);
  for (int32_t expected : {3, 1, 4}) EXPECT_EQ(holder->Add(MakeRef<TProbe>(&Destroyed)), expected);
  EXPECT_EQ(holder->LiveCount(), 4);
  EXPECT_EQ(holder->SlotCount(), 4);
}

TEST_F(ContainersTest, HolderGetHandsOutAReferenceAndDestructionReleasesEachOnce) {
  Ref<TObjectHolder> holder = MakeRef<TObjectHolder>();
  int32_t handle = holder->Add(MakeRef<TProbe>(&Destroyed));
  holder->Add(MakeRef<TProbe>(&Destroyed));
  holder->Remove(holder->Add(MakeRef<TProbe>(&Destroyed)));  // a free slot at the end
  {
    Ref<TProbe> probe = holder->GetAs<TProbe>(handle);
    EXPECT_EQ(probe->RefCount(), 2);
    EXPECT_EQ(holder->Get(handle).Get(), probe.Get());
  }
  EXPECT_EQ(Destroyed, 1);
  holder.ReleaseLast();
  EXPECT_EQ(Destroyed, 3);
}

}  // namespace
}  // namespace kor
