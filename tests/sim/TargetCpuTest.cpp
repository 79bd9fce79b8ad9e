// TargetCpuTest.cpp -- where the tests run. In the cross build they are
// programs for the receiver's CPU (32-bit MIPS, little-endian) that ctest
// starts under qemu-mipsel; this test says so in the test list.
#include <sys/utsname.h>

#include <cstring>
#include <string>

#include "SimFixture.h"

namespace {

TEST(TargetCpu, CrossBuiltTestsRunOnMipselUnderQemu)
{
  const std::string emulator = FERROX_EMULATOR;
  if (emulator.empty()) GTEST_SKIP() << "PC build; the receiver-CPU leg runs the tests under qemu-mipsel";
  EXPECT_NE(emulator.find("qemu-mipsel"), std::string::npos) << emulator;
#if !defined(__mips__)
  ADD_FAILURE() << "the cross-built tests are not MIPS code";
#endif
  EXPECT_EQ(sizeof(void *), 4u) << "pointers as on the receiver";
  const uint32_t one = 1;
  unsigned char first = 0;
  std::memcpy(&first, &one, 1);
  EXPECT_EQ(first, 1) << "little-endian";
  // the emulator reports the CPU it plays, not the PC's
  struct utsname names {};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(std::string(names.machine).rfind("mips", 0), 0u) << names.machine;
}

}  // namespace
