// Taking hold of a Workfile: the lock that keeps our other runs waiting, the
// file another run put in place while we waited, and what is never held.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/held_workfile.h"
#include "unit_test_support.h"

namespace zubra32::platform {
namespace {

constexpr std::uint64_t AnySize = 1u << 30;

HoldResult Hold(const std::string& name, HeldWorkfile& held, int waitMilliseconds, std::uint64_t maxBytes = AnySize) {
  return held.Hold(name, true, maxBytes, waitMilliseconds);
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
  first.Release();
  EXPECT_EQ(Hold(name, second, 0), HoldResult::Held);
  second.Release();
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
  first.Release();
  waiter.join();
  ASSERT_EQ(waited, HoldResult::Held);
  struct stat status {
  }, held{};
  ASSERT_EQ(stat(name.c_str(), &status), 0);
  ASSERT_EQ(fstat(static_cast<int>(second.File()), &held), 0);
  EXPECT_EQ(held.st_ino, status.st_ino);
  EXPECT_EQ(second.Size(), 5u);
  second.Release();
}

TEST(HoldWorkfileTest, OnlyRegularFilesWithinTheSizeAreHeld) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("w.txt"), "12345");
  ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("w.txt", dir.Path("link").c_str()), 0);
  ASSERT_EQ(symlink("link", dir.Path("link2").c_str()), 0);
  ASSERT_EQ(symlink("loop", dir.Path("loop").c_str()), 0);
  const struct {
    std::string Name;
    std::uint64_t MaxBytes;
    HoldResult Result;
  } rows[] = {
      {dir.Path("w.txt"), 5, HoldResult::Held},     {dir.Path("w.txt"), 4, HoldResult::TooLarge},
      {dir.Path("link2"), 5, HoldResult::Held},     {dir.Path("sub"), 5, HoldResult::NotRegular},
      {"/dev/null", 5, HoldResult::NotRegular},     {dir.Path("loop"), 5, HoldResult::Failed},
      {dir.Path("missing"), 5, HoldResult::Failed}, {dir.Path("w.txt/x"), 5, HoldResult::Failed},
  };
  for (const auto& row : rows) {
    HeldWorkfile held;
    EXPECT_EQ(Hold(row.Name, held, 0, row.MaxBytes), row.Result) << row.Name;
    EXPECT_EQ(held.IsHeld(), row.Result == HoldResult::Held) << row.Name;
    held.Release();
  }
}

// Only a lock that a writer holds (another run, or a program that opened the
// file for writing) holds up a hold: a read lock, which anyone who may read
// the file can take, does not. A run opens the file for writing, a preview
// for reading only, and a preview's hold locks nothing.
TEST(HoldWorkfileTest, OnlyAWritersLockHoldsUpAHold) {
  test::ScratchDir dir;
  const std::string name = dir.Path("w.txt");
  test::WriteFileBytes(name, "old\r\n");
  enum class Holder { ReadLock, WriteLock, Run, Preview };
  const struct {
    Holder HeldBy;
    bool ForWriting;
    HoldResult Result;
  } rows[] = {
      {Holder::ReadLock, true, HoldResult::Held},    {Holder::ReadLock, false, HoldResult::Held},
      {Holder::WriteLock, true, HoldResult::Locked}, {Holder::WriteLock, false, HoldResult::Locked},
      {Holder::Run, true, HoldResult::Locked},       {Holder::Run, false, HoldResult::Locked},
      {Holder::Preview, true, HoldResult::Held},     {Holder::Preview, false, HoldResult::Held},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(static_cast<int>(row.HeldBy)) + (row.ForWriting ? " run" : " preview"));
    HeldWorkfile first, second;
    int other = -1;
    if (row.HeldBy == Holder::ReadLock || row.HeldBy == Holder::WriteLock) {
      other = open(name.c_str(), row.HeldBy == Holder::ReadLock ? O_RDONLY : O_RDWR);
      struct flock lock {};
      lock.l_type = row.HeldBy == Holder::ReadLock ? F_RDLCK : F_WRLCK;
      ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
    } else {
      ASSERT_EQ(first.Hold(name, row.HeldBy == Holder::Run, AnySize, 0), HoldResult::Held);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Hold(name, row.ForWriting, AnySize, 300), row.Result);
    const auto took = std::chrono::steady_clock::now() - start;
    if (row.Result == HoldResult::Held) {
      EXPECT_LT(took, std::chrono::milliseconds(200));
      const int mode = fcntl(static_cast<int>(second.File()), F_GETFL) & O_ACCMODE;
      EXPECT_EQ(mode, row.ForWriting ? O_RDWR : O_RDONLY);
    }
    first.Release();
    second.Release();
    if (other >= 0) close(other);
  }
}

}  // namespace
}  // namespace zubra32::platform
