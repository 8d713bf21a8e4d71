#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

}  // namespace

// A second holder of the same folder waits its moment, then gives up with a
// message naming the lock; once the first lets go, the lock can be taken.
TEST(CFileLock, SecondHolderWaitsThenFailsNamingTheLock) {
  zvtest::TempDir dir;
  const std::string folder = dir / "Zelvane";
  std::filesystem::create_directory(folder);

  zv::CFileLock first, second;
  std::string error;
  ASSERT_TRUE(first.Lock(folder, error)) << error;
  EXPECT_TRUE(first.Locked());

  const auto t0 = Clock::now();
  EXPECT_FALSE(second.Lock(folder, error, 300));
  EXPECT_GE(MsSince(t0), 300);
  EXPECT_FALSE(second.Locked());
  EXPECT_EQ(error, "Cannot lock \"" + folder + "\": it is in use by another zelvane command");

  first.Unlock();
  EXPECT_TRUE(second.Lock(folder, error, 0)) << error;
}

// The waiter gets the lock as soon as the holder releases it within the wait.
TEST(CFileLock, WaiterTakesTheLockWhenReleasedInTime) {
  zvtest::TempDir dir;
  const std::string file = dir / "P.zvpj";
  zvtest::WriteText(file, "x");
  auto holder = std::make_unique<zv::CFileLock>();
  std::string error;
  ASSERT_TRUE(holder->Lock(file, error)) << error;
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    holder.reset();  // the destructor unlocks
  });
  zv::CFileLock waiter;
  const auto t0 = Clock::now();
  EXPECT_TRUE(waiter.Lock(file, error, 5000)) << error;
  EXPECT_GE(MsSince(t0), 150);
  EXPECT_LT(MsSince(t0), 4000);
  release.join();
}

// Another process holding the lock keeps it from this one; a process that
// ends drops its lock with it.
TEST(CFileLock, LockIsHeldAcrossProcessesAndDiesWithItsHolder) {
  zvtest::TempDir dir;
  const std::string folder = dir.Path();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    zv::CFileLock lock;
    std::string e;
    const char c = lock.Lock(folder, e, 0) ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::usleep(500 * 1000);
    ::_exit(0);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(c, 'y');

  zv::CFileLock lock;
  std::string error;
  EXPECT_FALSE(lock.Lock(folder, error, 50));
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(lock.Lock(folder, error, 0)) << error;
}

TEST(CFileLock, MissingPathGivesTheSystemReason) {
  zvtest::TempDir dir;
  zv::CFileLock lock;
  std::string error;
  EXPECT_FALSE(lock.Lock(dir / "missing", error, 0));
  EXPECT_EQ(error, "Cannot lock \"" + (dir / "missing") + "\": No such file or directory");
}
