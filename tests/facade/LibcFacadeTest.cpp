// LibcFacadeTest.cpp -- the receiver's OS facade (plain libc and raw system
// calls) on this CPU: in the cross build it runs under qemu-mipsel, where the
// 32-bit MIPS argument layout of the system calls is what the kernel sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "os_facade.h"

namespace {

TEST(LibcFacade, WriteBackStartsAndWaitsForAnyRangeOfAFile)
{
  char name[] = "/tmp/ferrox-facade-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  FILE *f = OS_Fopen64(name, "w+");
  ASSERT_NE(nullptr, f);
  std::string block(1 << 20, 'x');
  struct {
    off64_t offset, length;
    int wait;
  } cases[] = {{0, 1 << 20, 0}, {0, 1 << 20, 1}, {1 << 20, 1 << 20, 0}, {1 << 20, 1 << 20, 1},
               {off64_t{5} << 32, 4096, 1} /* beyond 4 GiB: the high word counts */};
  for (const auto &c : cases) {
    ASSERT_EQ(block.size(), OS_Fwrite(block.data(), 1, block.size(), f));
    EXPECT_EQ(0, OS_WriteBack(f, c.offset, c.length, c.wait)) << c.offset << " " << c.length << " " << c.wait;
  }
  EXPECT_EQ(-1, OS_WriteBack(f, -1, 10, 0)) << "a negative offset is refused by the kernel";
  EXPECT_EQ(0, OS_Fclose(f));
  std::remove(name);
}

}  // namespace
