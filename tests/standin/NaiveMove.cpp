/* NaiveMove.cpp -- moves recordings the naive way, as the power-cut tier's
 * control: each recording of "/DataFiles/MoveToNAS" with its companions is
 * copied to "/mnt/hd/DataFiles/NAS-Share", closed and its source deleted at
 * once, without a sync of a file or a folder. A power cut then loses
 * recordings, which shows that the tier's audit can fail.
 * Owns: nothing but the copy buffer. */
#include <stdio.h>
#include <string.h>

#include "PathTypes.h"
#include "os_facade.h"
#include "tap_api.h"

#define SOURCE_DIR "/mnt/hd/DataFiles/MoveToNAS"
#define DEST_DIR "/mnt/hd/DataFiles/NAS-Share"

static char Buffer[65536];

/* Copies one file; false when it could not. */
static bool CopyFile(const char *from, const char *to)
{
  FILE *in = OS_Fopen64(from, "rb");
  if (in == nullptr) return false;
  FILE *out = OS_Fopen64(to, "wb");
  bool ok = out != nullptr;
  size_t n;
  while (ok && (n = OS_Fread(Buffer, 1, sizeof Buffer, in)) > 0) ok = OS_Fwrite(Buffer, 1, n, out) == n;
  if (out != nullptr) OS_Fclose(out);
  OS_Fclose(in);
  return ok;
}

/* Moves the first recording left; false when there is none. */
static bool MoveOne(void)
{
  static const char *const endings[] = {"", ".inf", ".nav"};
  TapDirEntry entry;
  char from[512], to[512];
  if (!TAP_Hdd_ChangeDir("/DataFiles/MoveToNAS") || TAP_Hdd_FindFirst(&entry, "rec|mpg|ts") == 0) return false;
  for (const char *ending : endings) {
    snprintf(from, sizeof from, "%s/%s%s", SOURCE_DIR, entry.Name, ending);
    snprintf(to, sizeof to, "%s/%s%s", DEST_DIR, entry.Name, ending);
    if (CopyFile(from, to)) OS_Unlink(from);
  }
  return true;
}

int TAP_Main(void) { return 1; }

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  (void)param2;
  if (event != EVT_IDLE) return param1;
  if (!MoveOne()) TAP_Exit();
  return 0;
}
