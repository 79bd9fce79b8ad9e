// SysApi.cpp -- the memory, time and system calls of the plug-in API.
//
// Heap blocks are tracked process-wide (a plug-in's toolkit may keep a block
// across receivers) and limited by the live receiver's configuration, so
// out-of-memory paths can be reached. Time comes from the receiver's one
// clock; TAP_SystemProc is one firmware round.
// Owns: the table of live TAP_MemAlloc blocks.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <unordered_map>

#include "Fatal.h"
#include "ReceiverImpl.h"

using sim::LiveOrWarn;
using sim::Receiver;

namespace {
struct Block {
  size_t size;     // bytes
  uint64_t owner;  // load number of the plug-in that took it, 0 for none
};
struct MemTable {
  std::unordered_map<void *, Block> blocks;  // live blocks
  size_t inUse = 0;                          // bytes in live blocks
};
MemTable &Mem()
{
  static MemTable table;
  return table;
}
}  // namespace

namespace sim {

void Receiver::SetMemoryLimit(size_t total, size_t largestBlock)
{
  impl_->config.memTotalLimit = total;
  impl_->config.memBlockLimit = largestBlock;
}

size_t Receiver::MemoryInUse() const { return Mem().inUse; }

std::pair<size_t, size_t> FreeBlocksOf(uint64_t owner)
{
  MemTable &mem = Mem();
  size_t count = 0, bytes = 0;
  if (owner == 0) return {0, 0};
  for (auto it = mem.blocks.begin(); it != mem.blocks.end();) {
    if (it->second.owner != owner) {
      ++it;
      continue;
    }
    ++count;
    bytes += it->second.size;
    mem.inUse -= it->second.size;
    std::free(it->first);
    it = mem.blocks.erase(it);
  }
  return {count, bytes};
}

}  // namespace sim

extern "C" void *TAP_MemAlloc(dword size)
{
  Receiver::Impl *im = sim::LiveImpl();
  MemTable &mem = Mem();
  if (im) {
    ++im->calls["TAP_MemAlloc"];
    const sim::Config &c = im->config;
    if (c.memBlockLimit && size > c.memBlockLimit) return nullptr;
    if (c.memTotalLimit && mem.inUse + size > c.memTotalLimit) return nullptr;
  }
  void *p = std::malloc(size ? size : 1);
  if (!p) return nullptr;
  sim::Slot *slot = im ? im->CurrentSlot() : nullptr;
  mem.blocks[p] = Block{size, slot && slot->tap.handle ? slot->loadId : 0};
  mem.inUse += size;
  return p;
}

extern "C" int TAP_MemFree(void *block)
{
  if (block == nullptr) return 0;
  MemTable &mem = Mem();
  auto it = mem.blocks.find(block);
  if (it == mem.blocks.end()) {
    std::ostringstream msg;
    msg << "freeing " << block << ", which TAP_MemAlloc never handed out (or was freed); ignored";
    sim::PluginError("TAP_MemFree", msg.str());
    return 0;
  }
  mem.inUse -= it->second.size;
  mem.blocks.erase(it);
  std::free(block);
  return 1;
}

extern "C" void TAP_MemSet(void *dest, byte value, dword size)
{
  if (dest) std::memset(dest, value, size);
}

extern "C" void TAP_MemCpy(void *dest, const void *src, dword size)
{
  if (dest && src) std::memmove(dest, src, size);
}

extern "C" int TAP_MemCmp(const void *a, const void *b, dword size)
{
  if (!a || !b) return a == b ? 0 : 1;
  return std::memcmp(a, b, size);
}

// ---------------------------------------------------------------- time

extern "C" dword TAP_GetTick(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_GetTick");
  return im ? im->clock.Ticks() : 0;
}

extern "C" int TAP_GetTime(word *mjd, byte *hour, byte *min, byte *sec)
{
  Receiver::Impl *im = LiveOrWarn("TAP_GetTime");
  if (!im) return 0;
  const int64_t now = im->clock.LocalUnixSeconds();
  const uint32_t packed = sim::PackedTimeOf(now);
  if (mjd) *mjd = static_cast<word>(packed >> 16);
  if (hour) *hour = static_cast<byte>(packed >> 8);
  if (min) *min = static_cast<byte>(packed);
  if (sec) *sec = static_cast<byte>(((now % 60) + 60) % 60);
  return 1;
}

extern "C" word TAP_MakeMjd(word year, byte month, byte day)
{
  uint16_t mjd = 0;
  return sim::MakeMjd(year, month, day, &mjd) ? mjd : 0;
}

extern "C" int TAP_ExtractMjd(word mjd, word *year, byte *month, byte *day, byte *weekDay)
{
  int y, m, d, wd;
  sim::ExtractMjd(mjd, &y, &m, &d, &wd);
  if (year) *year = static_cast<word>(y);
  if (month) *month = static_cast<byte>(m);
  if (day) *day = static_cast<byte>(d);
  if (weekDay) *weekDay = static_cast<byte>(wd);
  return 1;
}

extern "C" void TAP_Sleep(dword ticks)
{
  if (Receiver::Impl *im = LiveOrWarn("TAP_Sleep")) im->clock.Advance(ticks);
}

extern "C" void TAP_Delay(dword ticks)
{
  if (Receiver::Impl *im = LiveOrWarn("TAP_Delay")) im->clock.Advance(ticks);
}

extern "C" void TAP_SystemProc(void)
{
  if (Receiver::Impl *im = LiveOrWarn("TAP_SystemProc")) im->Round(false);
}

// ---------------------------------------------------------------- system

extern "C" void TAP_Exit(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Exit");
  if (!im) return;
  sim::Slot *s = im->CurrentSlot();
  if (!s || s->hostTask) {
    sim::PluginError("TAP_Exit", "called outside a plug-in's event; ignored");
    return;
  }
  s->exitRequested = true;  // the firmware unloads it after the current event
  if (!s->ending) s->ending = "ended itself (TAP_Exit)";
}

extern "C" dword TAP_GetVersion(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_GetVersion");
  return im ? im->config.firmwareVersion : 0;
}

extern "C" dword TAP_GetSystemId(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_GetSystemId");
  return im ? im->config.systemId : 0;
}

extern "C" void TAP_Print(const char *format, ...)
{
  if (!format) return;
  char text[4096];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  Receiver::Impl *im = sim::LiveImpl();
  std::ostream &out = im && im->config.printSink ? *im->config.printSink : std::cout;
  if (im) im->printed += text;
  out << "TAP_Print| " << text;
  if (std::strchr(text, '\n') == nullptr) out << '\n';
  out.flush();
}

// The firmware's printf into the caller's buffer: the plug-ins bound their
// own formatting, as on the receiver.
extern "C" int TAP_SPrint(char *dest, const char *format, ...)
{
  if (!dest || !format) return -1;
  va_list ap;
  va_start(ap, format);
  int n = std::vsprintf(dest, format, ap);
  va_end(ap);
  return n;
}

extern "C" void TAP_EnterNormal(void)
{
  if (Receiver::Impl *im = LiveOrWarn("TAP_EnterNormal")) im->osd.normalPicture = true;
}

extern "C" void TAP_ExitNormal(void)
{
  if (Receiver::Impl *im = LiveOrWarn("TAP_ExitNormal")) im->osd.normalPicture = false;
}
