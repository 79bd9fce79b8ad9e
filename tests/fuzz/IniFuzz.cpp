// IniFuzz.cpp -- fuzz target over the INI store: any file text, read from
// the simulated disk or taken as held text, then look-ups, changes and a
// save with fuzzer-chosen keys and values.
//
// The held text is checked to stay terminated inside its allocation after
// every change; AddressSanitizer reports any access beyond it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "FuzzReceiver.h"
#include "IniStore.h"

namespace {

void Check(bool ok, const char *what)
{
  if (ok) return;
  fprintf(stderr, "IniFuzz: %s\n", what);
  abort();
}

void CheckHeld()
{
  if (INIBuffer == nullptr) return;
  Check(BufferSize > 0 && memchr(INIBuffer, 0, BufferSize) != nullptr, "text not terminated");
}

// The file text either goes through INIOpenFile or is held directly.
void Hold(sim::Receiver &rx, const std::string &text, bool fromFile)
{
  if (fromFile) {
    std::ofstream(rx.HostPath("/mnt/hd/Fuzz.ini"), std::ios::binary | std::ios::trunc) << text;
    Check(INIOpenFile("Fuzz.ini", nullptr) == IniPlaceHere, "file not found where it lies");
    return;
  }
  dword size = (dword)((text.size() / 512 + 2) * 512);
  INIBuffer = (char *)TAP_MemAlloc(size);
  if (INIBuffer == nullptr) return;
  memset(INIBuffer, 0, size);
  memcpy(INIBuffer, text.data(), text.size());
  BufferSize = size;
}

void Operate(FuzzedDataProvider &fdp)
{
  char value[64];
  for (int ops = 0; ops < 8 && fdp.remaining_bytes() > 0; ops++) {
    std::string key = fdp.ConsumeRandomLengthString(100);
    switch (fdp.ConsumeIntegralInRange(0, 4)) {
      case 0:
        INIGetInt(key.c_str(), fdp.ConsumeIntegral<int>(), fdp.ConsumeIntegral<int>(), fdp.ConsumeIntegral<int>());
        break;
      case 1: {
        dword size = fdp.ConsumeIntegralInRange<dword>(1, sizeof(value));
        INIGetString(key.c_str(), value, "default", size);
        Check(strlen(value) < size, "string longer than its buffer");
        break;
      }
      case 2: INISetString(key.c_str(), fdp.ConsumeRandomLengthString(1500).c_str()); break;
      case 3: INISetInt(key.c_str(), fdp.ConsumeIntegral<int>()); break;
      default:
        /* a fixed application folder: fuzzed names stay out of folder names */
        INISaveFile("Out.ini", (IniPlace)fdp.ConsumeIntegralInRange(0, 7), "App");
        break;
    }
    CheckHeld();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  sim::Receiver &rx = FuzzReceiver();
  FuzzedDataProvider fdp(data, size);
  bool fromFile = fdp.ConsumeBool();
  std::string text = fdp.ConsumeRandomLengthString(4096);
  Hold(rx, text, fromFile);
  CheckHeld();
  Operate(fdp);
  INICloseFile();
  return 0;
}
