/* Faulty.cpp -- a plug-in with one deliberate mistake, for the simulator's
 * strict mode. "Faulty.cfg" in its folder names the mistake by number; it is
 * made on the first idle event, then the plug-in ends itself.
 *   1 frees a heap block twice      2 frees a block the heap never gave
 *   3 closes a file handle twice    4 reads from a handle never opened
 *   5 closes a stream twice         6 writes to a stream not opened through
 *                                     the platform
 *   7 returns from the event with its call trace entered but not left
 *   8 leaves a heap block for the firmware to free at unload
 *   9 ends while a thread of its own still runs (it waits on a pipe that is
 *     never written, a millisecond at a time)
 * Owns: the mistake's number. */
#include <stdio.h>
#include <stdlib.h>

#include "LogTrace.h"
#include "os_facade.h"
#include "tap_api.h"

static int Fault = 0;
static int Pipe[2] = {-1, -1};

static void *WaitForever(void *arg)
{
  (void)arg;
  for (;;) OS_Poll(Pipe[0], 1);
  return nullptr;
}

static int ReadFault(void)
{
  char text[16];
  FwFileRecord *f = TAP_Hdd_Fopen("Faulty.cfg");
  if (f == nullptr) return 0;
  dword n = TAP_Hdd_Fread(text, 1, sizeof(text) - 1, f);
  TAP_Hdd_Fclose(f);
  text[n] = '\0';
  return atoi(text);
}

static void MakeTheMistake(void)
{
  static char notFromTheHeap[16];
  static FwFileRecord notAHandle;
  char buffer[8];
  switch (Fault) {
    case 1: {
      void *block = TAP_MemAlloc(64);
      TAP_MemFree(block);
      TAP_MemFree(block);
      break;
    }
    case 2: TAP_MemFree(notFromTheHeap); break;
    case 3: {
      FwFileRecord *f = TAP_Hdd_Fopen("Faulty.cfg");
      TAP_Hdd_Fclose(f);
      TAP_Hdd_Fclose(f);
      break;
    }
    case 4: TAP_Hdd_Fread(buffer, 1, sizeof buffer, &notAHandle); break;
    case 5: {
      FILE *f = OS_Fopen64("/mnt/hd/ProgramFiles/Faulty.cfg", "rb");
      OS_Fclose(f);
      OS_Fclose(f);
      break;
    }
    case 6: OS_Fwrite("x", 1, 1, (FILE *)(void *)notFromTheHeap); break;
    case 7: CallTraceEnter("MakeTheMistake"); break;
    case 8: TAP_MemAlloc(100); break; /* left for the firmware to free at unload */
    case 9: {
      tOS_Thread thread;
      if (OS_Pipe(Pipe) == 0) OS_ThreadStart(&thread, WaitForever, nullptr);
      break;
    }
    default: break;
  }
}

int TAP_Main(void)
{
  Fault = ReadFault();
  TAP_Print("Faulty: mistake %d\n", Fault);
  return 1;
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  (void)param1;
  (void)param2;
  if (event == EVT_IDLE) {
    MakeTheMistake();
    TAP_Exit();
  }
  return event == EVT_IDLE ? 0 : param1;
}
