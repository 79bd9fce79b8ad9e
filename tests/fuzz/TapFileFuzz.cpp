// TapFileFuzz.cpp -- fuzz target over the plug-in file reader: any bytes as
// a plug-in file, and well-formed ELF32/ELF64 plug-in files with fuzzer-made
// overwrites and cuts, so that the checks of every header field are reached.
//
// A file that reads must have terminated texts; AddressSanitizer reports any
// access outside the reader's buffers.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "../support/ElfImage.h"
#include "ElfReader.h"
#include "FuzzReceiver.h"
#include "TapManagement.h"

namespace {

void Check(bool ok, const char *what)
{
  if (ok) return;
  fprintf(stderr, "TapFileFuzz: %s\n", what);
  abort();
}

// A plug-in file with up to 16 overwrites of 1, 2, 4 or 8 bytes and a cut.
std::string Mutated(FuzzedDataProvider &fdp)
{
  elfimage::ElfImage img = elfimage::BuildElf(fdp.ConsumeBool(), elfimage::PluginSections(0x1234));
  for (int n = fdp.ConsumeIntegralInRange(0, 16); n > 0 && fdp.remaining_bytes() > 0; n--) {
    size_t at = fdp.ConsumeIntegralInRange<size_t>(0, img.bytes.size() - 1);
    int width = 1 << fdp.ConsumeIntegralInRange(0, 3);
    uint64_t value = fdp.ConsumeIntegral<uint64_t>();
    for (int i = 0; i < width && at + i < img.bytes.size(); i++) img.bytes[at + i] = char(value >> (8 * i));
  }
  if (fdp.ConsumeBool()) img.bytes.resize(fdp.ConsumeIntegralInRange<size_t>(0, img.bytes.size()));
  return img.bytes;
}

bool Terminated(const char *field, size_t size) { return memchr(field, 0, size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  sim::Receiver &rx = FuzzReceiver();
  FuzzedDataProvider fdp(data, size);
  std::string file = fdp.ConsumeBool() ? Mutated(fdp) : fdp.ConsumeRemainingBytesAsString();
  std::ofstream(rx.HostPath("/mnt/hd/Fuzz.tap"), std::ios::binary | std::ios::trunc) << file;

  TapFileInfo info;
  bool ok = HDD_TAP_GetInfo("/mnt/hd/Fuzz.tap", &info);
  Check(fTAP == nullptr && SectionHeaders == nullptr && shstrtab == nullptr, "reader state left");
  if (!ok) {
    Check(info.ID == 0, "an unreadable file with an id");
    return 0;
  }
  Check(Terminated(info.TAPName, sizeof(info.TAPName)) && Terminated(info.Author, sizeof(info.Author)) &&
            Terminated(info.Description, sizeof(info.Description)) && Terminated(info.Version, sizeof(info.Version)),
        "text field without terminator");
  return 0;
}
