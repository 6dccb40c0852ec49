// The directories of Workfiles are opened once per run and kept: a later
// Workfile in the same directory takes the kept handle, but only while the
// path still leads to that directory.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "runtime/held_workfile.h"
#include "unit_test_support.h"

namespace zubra32::platform {
namespace {

// Holds the Workfile, gives its bytes, replaces them by `text` and lets it go;
// empty with `ok` false when any step fails.
std::string ReadAndReplace(const std::string& name, const std::string& text, bool& ok) {
  HeldWorkfile held;
  ErrorCode error = 0;
  ok = held.Hold(name, true, 1u << 20, 0) == HoldResult::Held;
  std::string bytes(64, '\0');
  std::int64_t count = ok ? ReadBytes(held.File(), bytes.data(), bytes.size(), error) : -1;
  bytes.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
  Replacement replacement(held);
  ok = ok && count >= 0 && replacement.Begin() && WriteBytes(replacement.File(), text.data(), text.size(), error) &&
       replacement.Commit() == CommitResult::Replaced;
  return bytes;
}

TEST(DirectoryCacheTest, ADirectoryPutInAnothersPlaceIsTheOneWrittenInto) {
  test::ScratchDir scratch;
  const std::string sub = scratch.Path("sub"), moved = scratch.Path("moved");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  test::WriteFileBytes(sub + "/w.txt", "first\r\n");
  bool ok = false;
  EXPECT_EQ(ReadAndReplace(sub + "/w.txt", "one\r\n", ok), "first\r\n");
  ASSERT_TRUE(ok);
  // The kept directory goes elsewhere; a new one takes its name.
  ASSERT_EQ(std::rename(sub.c_str(), moved.c_str()), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  test::WriteFileBytes(sub + "/w.txt", "second\r\n");
  EXPECT_EQ(ReadAndReplace(sub + "/w.txt", "two\r\n", ok), "second\r\n");
  ASSERT_TRUE(ok);
  EXPECT_EQ(test::ReadFileBytes(sub + "/w.txt"), "two\r\n");
  EXPECT_EQ(test::ReadFileBytes(moved + "/w.txt"), "one\r\n");
}

TEST(DirectoryCacheTest, ADirectoryRemovedAndMadeAgainServesLaterRuns) {
  test::ScratchDir scratch;
  const std::string sub = scratch.Path("files");
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    for (const char* name : {"/a.txt", "/b.txt"}) {
      test::WriteFileBytes(sub + name, "x\r\n");
      bool ok = false;
      EXPECT_EQ(ReadAndReplace(sub + name, "y\r\n", ok), "x\r\n");
      EXPECT_TRUE(ok) << "run " << run << name;
      EXPECT_EQ(test::ReadFileBytes(sub + name), "y\r\n");
      ASSERT_EQ(std::remove((sub + name).c_str()), 0);
    }
    ASSERT_EQ(rmdir(sub.c_str()), 0);
  }
}

}  // namespace
}  // namespace zubra32::platform
