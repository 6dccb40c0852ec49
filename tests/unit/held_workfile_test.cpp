// Taking hold of a Workfile: the lock that keeps our other runs waiting, the
// file another run put in place while we waited, and what is never held.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/platform.h"
#include "unit_test_support.h"

namespace zubra32::platform {
namespace {

constexpr std::uint64_t AnySize = 1u << 30;

HoldResult Hold(const std::string& name, HeldWorkfile& held, int waitMilliseconds, std::uint64_t maxBytes = AnySize) {
  ErrorCode error = 0;
  return HoldWorkfile(name, true, maxBytes, waitMilliseconds, held, error);
}

TEST(HoldWorkfileTest, AHeldFileKeepsOtherHoldersWaitingUntilItIsLetGo) {
  test::ScratchDir dir;
  const std::string name = dir.Path("w.txt");
  test::WriteFileBytes(name, "old\r\n");
  HeldWorkfile first, second;
  ASSERT_EQ(Hold(name, first, 0), HoldResult::Held);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Hold(name, second, 200), HoldResult::Locked);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  ReleaseWorkfile(first);
  EXPECT_EQ(Hold(name, second, 0), HoldResult::Held);
  ReleaseWorkfile(second);
}

// The holder writes the file back (a new file renamed over the name) and lets
// go: the waiting run must load that new file, not the old one it opened.
TEST(HoldWorkfileTest, AWaiterTakesTheFileThatWasPutInPlaceMeanwhile) {
  test::ScratchDir dir;
  const std::string name = dir.Path("w.txt");
  test::WriteFileBytes(name, "old\r\n");
  HeldWorkfile first, second;
  ASSERT_EQ(Hold(name, first, 0), HoldResult::Held);
  HoldResult waited = HoldResult::Failed;
  std::thread waiter([&] { waited = Hold(name, second, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  test::WriteFileBytes(dir.Path("new.txt"), "new\r\n");
  ASSERT_EQ(std::rename(dir.Path("new.txt").c_str(), name.c_str()), 0);
  ReleaseWorkfile(first);
  waiter.join();
  ASSERT_EQ(waited, HoldResult::Held);
  struct stat status {};
  ASSERT_EQ(stat(name.c_str(), &status), 0);
  EXPECT_EQ(second.Identity.FileNumber, static_cast<std::uint64_t>(status.st_ino));
  EXPECT_EQ(second.Identity.Size, 5u);
  ReleaseWorkfile(second);
}

TEST(HoldWorkfileTest, OnlyRegularFilesWithinTheSizeAreHeld) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("w.txt"), "12345");
  ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("w.txt", dir.Path("link").c_str()), 0);
  ASSERT_EQ(symlink("link", dir.Path("link2").c_str()), 0);
  ASSERT_EQ(symlink("loop", dir.Path("loop").c_str()), 0);
  const struct {
    std::string name;
    std::uint64_t maxBytes;
    HoldResult result;
  } rows[] = {
      {dir.Path("w.txt"), 5, HoldResult::Held},     {dir.Path("w.txt"), 4, HoldResult::TooLarge},
      {dir.Path("link2"), 5, HoldResult::Held},     {dir.Path("sub"), 5, HoldResult::NotRegular},
      {"/dev/null", 5, HoldResult::NotRegular},     {dir.Path("loop"), 5, HoldResult::Failed},
      {dir.Path("missing"), 5, HoldResult::Failed}, {dir.Path("w.txt/x"), 5, HoldResult::Failed},
  };
  for (const auto& row : rows) {
    HeldWorkfile held;
    EXPECT_EQ(Hold(row.name, held, 0, row.maxBytes), row.result) << row.name;
    EXPECT_EQ(held.File != InvalidHandle, row.result == HoldResult::Held) << row.name;
    // A link is followed to the file itself, which is what the write-back replaces.
    if (row.result == HoldResult::Held) {
      EXPECT_EQ(held.NameInDirectory, "w.txt") << row.name;
    }
    ReleaseWorkfile(held);
  }
}

}  // namespace
}  // namespace zubra32::platform
