// LibcFacadeTest.cpp -- the receiver's OS facade (plain libc and raw system
// calls) on this CPU: in the cross build it runs under qemu-mipsel, where the
// 32-bit MIPS argument layout of the system calls is what the kernel sees.
#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "os_facade.h"

namespace {

// A new empty file under /tmp; its name, or "" when none could be made.
std::string NewTempFile(const char *stem)
{
  std::string name = std::string("/tmp/") + stem + "-XXXXXX";
  int fd = mkstemp(name.data());
  if (fd < 0) return "";
  close(fd);
  return name;
}

TEST(LibcFacade, WriteBackStartsAndWaitsForAnyRangeOfAFile)
{
  const std::string name = NewTempFile("ferrox-facade");
  ASSERT_FALSE(name.empty());
  FILE *f = OS_Fopen64(name.c_str(), "w+");
  ASSERT_NE(nullptr, f);
  std::string block(1 << 20, 'x');
  struct {
    off64_t offset, length;
    int wait;
  } cases[] = {{0, 1 << 20, 0},
               {0, 1 << 20, 1},
               {1 << 20, 1 << 20, 0},
               {1 << 20, 1 << 20, 1},
               {off64_t{5} << 32, 4096, 1} /* beyond 4 GiB: the high word counts */};
  for (const auto &c : cases) {
    ASSERT_EQ(block.size(), OS_Fwrite(block.data(), 1, block.size(), f));
    EXPECT_EQ(0, OS_WriteBack(f, c.offset, c.length, c.wait)) << c.offset << " " << c.length << " " << c.wait;
  }
  EXPECT_EQ(-1, OS_WriteBack(f, -1, 10, 0)) << "a negative offset is refused by the kernel";
  EXPECT_EQ(0, OS_Fclose(f));
  std::remove(name.c_str());
}

// The receiver's plug-ins run on one thread: the sync is done by its start,
// with the stream's buffer, and the poll finds nothing left to wait for.
TEST(LibcFacade, SyncIsDoneByItsStart)
{
  const std::string name = NewTempFile("ferrox-facade-sync");
  ASSERT_FALSE(name.empty());
  FILE *f = OS_Fopen64(name.c_str(), "w+");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(5u, OS_Fwrite("bytes", 1, 5, f));
  EXPECT_EQ(0, OS_SyncStart(f));
  EXPECT_EQ(0, OS_SyncPoll(f));
  FILE *check = std::fopen(name.c_str(), "rb");
  ASSERT_NE(nullptr, check);
  char back[8] = {};
  EXPECT_EQ(5u, std::fread(back, 1, sizeof back, check)) << "the buffer reached the file";
  std::fclose(check);
  EXPECT_EQ(0, OS_Fclose(f));
  std::remove(name.c_str());
}

// Inside the kernel where it can; the streams' positions stay; a stream
// opened for appending is refused with a "cannot" errno, so the engine reads
// and writes instead. Under the emulator the system call is the receiver
// CPU's own (offsets passed as pointers).
TEST(LibcFacade, CopyRangeCopiesInsideTheKernelOrSaysItCannot)
{
  char src[] = "/tmp/ferrox-facade-src-XXXXXX", dst[] = "/tmp/ferrox-facade-dst-XXXXXX";
  close(mkstemp(src));
  close(mkstemp(dst));
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
  FILE *in = OS_Fopen64(src, "w+");
  ASSERT_EQ(bytes.size(), OS_Fwrite(bytes.data(), 1, bytes.size(), in));
  ASSERT_EQ(0, OS_Fflush(in));
  FILE *out = OS_Fopen64(dst, "w+");
  ssize_t n = OS_CopyRange(in, 1000, out, 0, 200000);
  if (n < 0 && (errno == ENOSYS || errno == EXDEV || errno == EOPNOTSUPP)) {
    OS_Fclose(in);
    OS_Fclose(out);
    std::remove(src);
    std::remove(dst);
    GTEST_SKIP() << "this kernel cannot copy between files (errno " << errno << ")";
  }
  ASSERT_EQ(200000, n);
  EXPECT_EQ(0, OS_CopyRange(in, 300000, out, 200000, 4096)) << "at the end of the source";
  EXPECT_EQ(static_cast<off64_t>(bytes.size()), OS_Ftello64(in)) << "positions stay";
  EXPECT_EQ(0, OS_Ftello64(out));
  std::string back(200000, '\0');
  ASSERT_EQ(back.size(), OS_Fread(&back[0], 1, back.size(), out));
  EXPECT_TRUE(back == bytes.substr(1000, 200000));
  OS_Fclose(out);
  FILE *appending = OS_Fopen64(dst, "a");
  EXPECT_EQ(-1, OS_CopyRange(in, 0, appending, 0, 4096));
  EXPECT_EQ(EBADF, errno);
  OS_Fclose(appending);
  OS_Fclose(in);
  std::remove(src);
  std::remove(dst);
}

}  // namespace
