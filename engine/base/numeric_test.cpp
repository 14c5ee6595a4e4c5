#include "engine/base/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/base/fatal.h"
#include "engine/base/log.h"

#include "tests/support/temp_dir.h"

namespace kor {
namespace {

TEST(NumericTest, IntegerComparisons) {
  EXPECT_EQ(MinInt(-3, 2), -3);
  EXPECT_EQ(CompareInt(-1, 0), -1);
  EXPECT_EQ(CompareInt(5, 5), 0);
  EXPECT_EQ(CompareUInt(0xFFFFFFFFu, 0), 1);
  // A high word of -1 sorts below a high word of 0; with equal high words
  // the low word compares unsigned.
  EXPECT_EQ(CompareInt64(int64_t{-1} << 32, 0), -1);
  EXPECT_EQ(CompareInt64(0xFFFFFFFFll, 0), 1);
}

TEST(NumericTest, DoublesHaveATotalOrderWithNanBelowEveryNumber) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    double A, B;
    int Expected;
  } cases[] = {
      {1.0, 2.0, -1},  {2.0, 1.0, 1},  {0.0, -0.0, 0}, {-inf, inf, -1}, {nan, nan, 0},
      {nan, -inf, -1}, {-inf, nan, 1}, {nan, 3.0, -1}, {3.0, nan, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareDouble(c.A, c.B), c.Expected) << c.A << " vs " << c.B;
  }
}

TEST(NumericTest, HexConversions) {
  EXPECT_EQ(HexToInt64("1"), 1);
  EXPECT_EQ(HexToInt64("FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(HexToInt64("ff"), 255);
  EXPECT_EQ(HexToInt64("100000000"), int64_t{1} << 32);
  EXPECT_EQ(Int64ToHex(3), "0000000000000003");
  EXPECT_EQ(Int64ToHex(-1), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Int64ToHex(int64_t{0x1234ABCD} << 32), "1234ABCD00000000");
  test::TTempDir dir;
  SetLogFile(dir.File("KORLIB.OUT"));
  EXPECT_EXIT(HexToInt64("11111111111111111"), ::testing::ExitedWithCode(kFatalExitCode), "Err");
}

TEST(NumericTest, AddToInt64CarriesIntoTheHighWord) {
  EXPECT_EQ(AddToInt64(0xFFFFFFFFll, 1), int64_t{1} << 32);
  EXPECT_EQ(AddToInt64(-1, 1), 0);
}

TEST(NumericTest, LittleEndianCodings) {
  unsigned char bytes[8];
  EncodeInt32(bytes, -2);
  EXPECT_EQ(bytes[0], 0xFE);
  EXPECT_EQ(bytes[3], 0xFF);
  EXPECT_EQ(DecodeInt32(bytes), -2);
  EncodeInt64(bytes, 0x0102030405060708ll);
  EXPECT_EQ(bytes[0], 0x08);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(DecodeInt64(bytes), 0x0102030405060708ll);
}

TEST(NumericTest, FileBaseName) {
  EXPECT_EQ(ExtractFileBaseName("/usr/lib/jvm/bin/java"), "java");
  EXPECT_EQ(ExtractFileBaseName("C:\\tools\\korserver.exe"), "korserver");
  EXPECT_EQ(ExtractFileBaseName("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(ExtractFileBaseName(".hidden"), ".hidden");
}

}  // namespace
}  // namespace kor
