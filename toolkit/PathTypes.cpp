/* PathTypes.cpp -- path forms, folder changes and the folder stack.
 *
 * Classifies and converts names, TAPFS folders and files and OS folders and
 * files below "/mnt/hd". The UTF-8 retry uses TextEncoding, symbol look-ups
 * FirmwareBinding. Paths are built in 512-byte buffers: what would not fit
 * is refused (empty result, false), never cut. Owns: TAPDirStack and its
 * depth, TAP_TableIndex, ChDirSuccessful, ReturnTypeToBeChecked.
 */
#include "PathTypes.h"

#include <string.h>

#include "FirmwareBinding.h"
#include "TextEncoding.h"
#include "os_facade.h"

char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
int TAPDirStackDepth = -1;
int TAP_TableIndex = -1;
dword ChDirSuccessful = 0;
bool ReturnTypeToBeChecked = true;

/* ---- bounded string helpers: false when the result would not fit ---- */

static bool PathCopy(char *dest, const char *src)
{
  size_t len = strlen(src);
  if (len >= PATH_BUFFER) {
    dest[0] = '\0';
    return false;
  }
  memcpy(dest, src, len + 1);
  return true;
}

static bool PathAppend(char *dest, const char *src)
{
  size_t used = strlen(dest), len = strlen(src);
  if (used + len >= PATH_BUFFER) return false;
  memcpy(dest + used, src, len + 1);
  return true;
}

static bool PathAppendSlash(char *dest)
{
  size_t used = strlen(dest);
  if (used > 0 && dest[used - 1] == '/') return true;
  return PathAppend(dest, "/");
}

/* Copies the first len bytes of src as a string of its own. */
static void PathCopyPrefix(char *dest, const char *src, size_t len)
{
  memcpy(dest, src, len);
  dest[len] = '\0';
}

/* "/mnt/hd" itself or a path below it; "/mnt/hdb1" is another disk. */
static bool IsBelowTapfsRoot(const char *path)
{
  return strncmp(path, TAPFS_ROOT, TAPFS_ROOT_LEN) == 0 &&
         (path[TAPFS_ROOT_LEN] == '/' || path[TAPFS_ROOT_LEN] == '\0');
}

/* The current TAPFS folder with a final "/" ("/" at the disk's root). */
static bool CurrentDirWithSlash(char *dest)
{
  dest[0] = '\0';
  HDD_TAP_GetCurrentDir(dest);
  return PathAppendSlash(dest);
}

/* Appends the current TAPFS folder with its final "/" to dest. */
static bool AppendCurrentDir(char *dest)
{
  char current[PATH_BUFFER];
  return CurrentDirWithSlash(current) && PathAppend(dest, current);
}

/* Makes a relative TAPFS path absolute in place against the current folder;
 * an absolute one is left alone. */
static bool MakeTapAbsolute(char *path)
{
  char work[PATH_BUFFER];

  if (path[0] == '/') return true;
  work[0] = '\0';
  if (!AppendCurrentDir(work) || !PathAppend(work, path)) return false;
  return PathCopy(path, work);
}

/* ---- classification ---- */

/* The bits of the form: 1 contains "/", 2 ends in "/", 4 begins with "/mnt";
 * a path that names an existing folder on the internal disk gets 1 and 2. */
static int PathFormBits(const char *path)
{
  size_t len = strlen(path);
  int bits = 0;

  if (strchr(path, '/')) bits |= 1;
  if (path[len - 1] == '/') bits |= 2;
  if (strncmp(path, "/mnt", 4) == 0) bits |= 4;

  char probe[PATH_BUFFER];
  strcpy(probe, TAPFS_ROOT);
  bool fits = true;
  if (path[0] != '/') fits = AppendCurrentDir(probe);
  /* a probe too long for the buffer is simply not a folder */
  if (fits && PathAppend(probe, path)) {
    struct stat64 st;
    if (OS_Lstat64(probe, &st) == 0 && S_ISDIR(st.st_mode)) bits |= 3;
  }
  return bits;
}

PathKind GetPathType(const char *path)
{
  if (path == nullptr || path[0] == '\0') return PathKindName;
  if (path[0] == '.' || strcmp(path, "/") == 0) return PathKindTapFolder;

  /* Whatever the operating system finds as given is an OS path; links are
   * not followed, so a link to a folder counts as a file. */
  struct stat64 st;
  if (OS_Lstat64(path, &st) == 0) return S_ISDIR(st.st_mode) ? PathKindLinuxFolder : PathKindLinuxFile;

  /* Otherwise the form decides. A path that begins with "/mnt" or ends in
   * "/" contains a "/", so only 0 and the four mapped values can occur. */
  switch (PathFormBits(path)) {
    case 1: return PathKindTapFile;
    case 3: return PathKindTapFolder;
    case 5: return PathKindLinuxFile;
    case 7: return PathKindLinuxFolder;
    default: return PathKindName;
  }
}

/* ---- conversion, one helper per source kind; each writes a full result
 * into out or returns false ---- */

/* A bare name lies in the current folder; its folder kinds are that folder. */
static bool ConvertFromName(const char *src, char *out, PathKind wanted)
{
  out[0] = '\0';
  if (wanted == PathKindLinuxFolder || wanted == PathKindLinuxFile) strcpy(out, TAPFS_ROOT);
  if (!AppendCurrentDir(out)) return false;
  if (wanted == PathKindTapFile || wanted == PathKindLinuxFile) return PathAppend(out, src);
  return true;
}

/* A folder has no name or file form; only its OS form has a meaning. */
static bool ConvertFromTapFolder(const char *src, char *out, PathKind wanted)
{
  char folder[PATH_BUFFER];

  if (wanted != PathKindLinuxFolder) return false;
  if (!PathCopy(folder, src) || !PathAppendSlash(folder) || !MakeTapAbsolute(folder)) return false;
  strcpy(out, TAPFS_ROOT);
  return PathAppend(out, folder) && PathAppendSlash(out);
}

/* An OS folder has a TAPFS form only on the internal disk: a USB drive or a
 * share mounted elsewhere is out of reach of the disk API. */
static bool ConvertFromLinuxFolder(const char *src, char *out, PathKind wanted)
{
  if (wanted != PathKindTapFolder || !IsBelowTapfsRoot(src)) return false;
  return PathCopy(out, src + TAPFS_ROOT_LEN) && PathAppendSlash(out);
}

/* A TAPFS file splits at its last "/"; its TAPFS folder stays relative when
 * the file was, while the OS forms always need the absolute path. */
static bool ConvertFromTapFile(const char *src, char *out, PathKind wanted)
{
  char path[PATH_BUFFER];
  const char *slash = strrchr(src, '/');
  size_t folderLen = slash ? (size_t)(slash - src) + 1 : 0;

  switch (wanted) {
    case PathKindName: return PathCopy(out, slash ? slash + 1 : src);
    case PathKindTapFolder: PathCopyPrefix(out, src, folderLen); return PathAppendSlash(out);
    case PathKindLinuxFolder:
      PathCopyPrefix(path, src, folderLen);
      if (!MakeTapAbsolute(path)) return false;
      strcpy(out, TAPFS_ROOT);
      return PathAppend(out, path) && PathAppendSlash(out);
    case PathKindLinuxFile:
      if (!PathCopy(path, src) || !MakeTapAbsolute(path)) return false;
      strcpy(out, TAPFS_ROOT);
      return PathAppend(out, path);
    default: return false;
  }
}

/* An OS file keeps its name and folder anywhere, its TAPFS forms only below
 * "/mnt/hd". */
static bool ConvertFromLinuxFile(const char *src, char *out, PathKind wanted)
{
  const char *slash = strrchr(src, '/');
  size_t folderLen = slash ? (size_t)(slash - src) + 1 : 0;

  switch (wanted) {
    case PathKindName: return PathCopy(out, slash ? slash + 1 : src);
    case PathKindTapFolder:
      if (!IsBelowTapfsRoot(src) || folderLen < TAPFS_ROOT_LEN) return false;
      PathCopyPrefix(out, src + TAPFS_ROOT_LEN, folderLen - TAPFS_ROOT_LEN);
      return PathAppendSlash(out);
    case PathKindLinuxFolder: PathCopyPrefix(out, src, folderLen); return PathAppendSlash(out);
    case PathKindTapFile: return IsBelowTapfsRoot(src) && PathCopy(out, src + TAPFS_ROOT_LEN);
    default: return false;
  }
}

void ConvertPathType(const char *src, char *dest, PathKind wanted)
{
  if (src == nullptr || dest == nullptr || (unsigned)wanted > PathKindLinuxFile) return;

  /* Work on a copy: callers may convert a buffer into itself. A source that
   * does not fit a path buffer has no meaning in any form. */
  char source[PATH_BUFFER], result[PATH_BUFFER];
  if (!PathCopy(source, src)) {
    dest[0] = '\0';
    return;
  }

  /* Failing helpers leave "no meaning": the empty string, never a cut path. */
  PathKind kind = GetPathType(source);
  bool ok;
  if (kind == wanted) {
    ok = PathCopy(result, source);
    if (ok && (kind == PathKindTapFolder || kind == PathKindLinuxFolder)) ok = PathAppendSlash(result);
  } else {
    result[0] = '\0';
    switch (kind) {
      case PathKindName: ok = ConvertFromName(source, result, wanted); break;
      case PathKindTapFolder: ok = ConvertFromTapFolder(source, result, wanted); break;
      case PathKindLinuxFolder: ok = ConvertFromLinuxFolder(source, result, wanted); break;
      case PathKindTapFile: ok = ConvertFromTapFile(source, result, wanted); break;
      default: ok = ConvertFromLinuxFile(source, result, wanted); break;
    }
  }
  if (ok) memcpy(dest, result, strlen(result) + 1);
  else dest[0] = '\0';
}

/* ---- current folder ---- */

/* On the very first change, learn what this firmware's change-folder call
 * returns on success: versions differ, so only that exact value counts. A
 * probe that failed returned the failure value 0; learnt, it would make
 * every failed change count as done. So nothing is learnt then, any non-zero
 * result counts, and the next change probes again. */
static void LearnChangeDirResult(void)
{
  ReturnTypeToBeChecked = false; /* the pop below changes folder too */
  bool pushed = HDD_TAP_PushDir();
  ChDirSuccessful = TAP_Hdd_ChangeDir(PROGRAM_FILES_DIR);
  if (pushed) HDD_TAP_PopDir();
  if (ChDirSuccessful == 0) ReturnTypeToBeChecked = true;
}

static bool ChangeDirDone(dword result) { return ChDirSuccessful != 0 ? result == ChDirSuccessful : result != 0; }

bool HDD_ChangeDir(const char *path)
{
  if (ReturnTypeToBeChecked) LearnChangeDirResult();
  if (path == nullptr || path[0] == '\0') return false;

  /* With the final "/" every form classifies as a folder, so a bare folder
   * name and an OS folder both come out as TAPFS folders. */
  char folder[PATH_BUFFER];
  if (!PathCopy(folder, path) || !PathAppendSlash(folder)) return false;
  ConvertPathType(folder, folder, PathKindTapFolder);
  if (folder[0] == '\0') return false;

  if (ChangeDirDone(TAP_Hdd_ChangeDir(folder))) return true;

  /* UTF-8 firmware keeps names the older firmware wrote in 8-bit text under
   * their UTF-8 form; a source byte can grow to 3 bytes. A UTF-8 form past
   * the 511 characters of a path is not tried: the firmware would keep it
   * cut, and the plug-in would then work in a folder it never asked for. */
  if (!isUTFFirmware()) return false;
  char utf8[PATH_BUFFER * 3 + 1];
  StrToUTF8(folder, utf8, 9, sizeof(utf8));
  if (strlen(utf8) >= PATH_BUFFER) return false;
  return ChangeDirDone(TAP_Hdd_ChangeDir(utf8));
}

int HDD_TAP_GetCurrentDir(char *dest)
{
  if (dest == nullptr) return -3;

  /* The slot never changes while the plug-in runs, so it is read once. */
  if (TAP_TableIndex == -1) {
    const dword *curTask = (const dword *)FIS_vCurTapTask();
    if (curTask == nullptr) return -3;
    TAP_TableIndex = (int)*curTask;
  }

  const FwTapTableEntry *table = (const FwTapTableEntry *)FIS_vTAPTable();
  if (table == nullptr || TAP_TableIndex < 0 || TAP_TableIndex >= TAP_TABLE_SLOTS) {
    dest[0] = '\0';
    return -3;
  }

  const FwTapTableEntry *entry = &table[TAP_TableIndex];
  if (entry->Folder == nullptr || entry->Folder->Path == nullptr) return 0;

  /* The firmware keeps an operating-system path; its TAPFS form is what
   * follows "/mnt/hd", and the disk's root itself is "/". */
  const char *path = entry->Folder->Path;
  size_t len = strnlen(path, TAPFS_ROOT_LEN);
  const char *tapPath = path + len;
  if (tapPath[0] == '\0') tapPath = "/";
  if (!PathCopy(dest, tapPath)) return -3;
  return 0;
}

bool HDD_TAP_PushDir(void)
{
  if (TAPDirStackDepth + 1 >= DIR_STACK_DEPTH) return false;

  /* Read into a full path buffer first: a folder that would not fit a stack
   * entry is refused rather than stored cut. */
  char current[PATH_BUFFER];
  current[0] = '\0';
  if (HDD_TAP_GetCurrentDir(current) != 0 || current[0] == '\0') return false;
  if (strlen(current) >= DIR_STACK_ENTRY) return false;

  TAPDirStackDepth++;
  strcpy(TAPDirStack[TAPDirStackDepth], current);
  return true;
}

/* The entry goes in any case, so a folder that vanished cannot block the
 * stack for the callers that push after it. */
bool HDD_TAP_PopDir(void)
{
  if (TAPDirStackDepth < 0) return false;

  char folder[DIR_STACK_ENTRY];
  strcpy(folder, TAPDirStack[TAPDirStackDepth]);
  TAPDirStackDepth--;
  return HDD_ChangeDir(folder);
}

bool HDD_TAP_KeepDir(char *keptDir)
{
  keptDir[0] = '\0';
  if (HDD_TAP_PushDir()) return true;
  /* stack full, or a folder longer than a stack entry: keep it here */
  if (HDD_TAP_GetCurrentDir(keptDir) != 0) keptDir[0] = '\0';
  return false;
}

void HDD_TAP_RestoreDir(bool pushed, const char *keptDir)
{
  if (pushed) HDD_TAP_PopDir();
  else if (keptDir != nullptr && keptDir[0] != '\0') HDD_ChangeDir(keptDir);
}

/* ---- existence and firmware file records ---- */

/* Files first, then folders: a folder path has no file form. The status
 * query follows links, so a link counts when its target exists. */
bool HDD_Exist(const char *path)
{
  if (path == nullptr || path[0] == '\0') return false;

  char linuxPath[PATH_BUFFER];
  ConvertPathType(path, linuxPath, PathKindLinuxFile);
  if (linuxPath[0] == '\0') ConvertPathType(path, linuxPath, PathKindLinuxFolder);
  if (linuxPath[0] == '\0') return false;

  struct stat64 st;
  return OS_Stat64(linuxPath, &st) == 0;
}

bool HDD_GetAbsolutePathByTypeFile(const FwFileRecord *file, char *dest)
{
  if (dest == nullptr) return false;
  dest[0] = '\0';
  if (file == nullptr || file->PathInfo == nullptr || file->PathInfo->AbsPath == nullptr) return false;
  return PathCopy(dest, file->PathInfo->AbsPath);
}

bool HDD_IsMounted(const char *path)
{
  struct stat64 st;
  return path != nullptr && OS_Lstat64(path, &st) == 0 && st.st_dev != TAP_INTERNAL_DISK_DEV;
}

bool HDD_IsLink(const char *path)
{
  struct stat64 st;
  return path != nullptr && OS_Lstat64(path, &st) == 0 && S_ISLNK(st.st_mode);
}
