// FirmwareSymbols.cpp -- the firmware variables and the work-folder and
// program-starter calls behind the firmware functions module (top side).
//
// Owns: the exported firmware variables. The work folder is an OS path; a
// selected folder is remembered in a table and the 16-byte folder record
// carries its index, so a record from an old selection stays usable.
#include <cstring>

#include "Fatal.h"
#include "ReceiverImpl.h"

#define FW_VAR __attribute__((visibility("default")))

extern "C" {
FW_VAR FwTapTableEntry _tapTask[TAP_TABLE_SLOTS];
FW_VAR dword _curTapTask;
FW_VAR FwRecSlotFiles _hddRecordFile[FW_REC_SLOT_TABLE];
FW_VAR FwWorkFolderRecord *_hddTapFolder;
FW_VAR FwOsdRegion _osdInfo[FW_OSD_REGIONS];
}

using sim::LiveOrWarn;
using sim::Receiver;

static const dword kSelectedMark = 0x51E1EC7Du;  // marks a record this firmware filled

extern "C" __attribute__((visibility("default"))) dword SimFw_SaveWorkFolder(void)
{
  Receiver::Impl *im = LiveOrWarn("ApplHdd_SaveWorkFolder");
  if (!im) return 0;
  im->workStack.push_back(im->workFolder);
  return 1;
}

extern "C" __attribute__((visibility("default"))) dword SimFw_RestoreWorkFolder(void)
{
  Receiver::Impl *im = LiveOrWarn("ApplHdd_RestoreWorkFolder");
  if (!im || im->workStack.empty()) return 0;
  im->workFolder = im->workStack.back();
  im->workStack.pop_back();
  return 1;
}

// path is an OS folder without its leading "/" ("mnt/hd/ProgramFiles").
// 0 on success; 1 for a bad record or path, 2 for a folder that is missing.
extern "C" __attribute__((visibility("default"))) dword SimFw_SelectFolder(void *record, const char *path)
{
  Receiver::Impl *im = LiveOrWarn("ApplHdd_SelectFolder");
  auto *rec = static_cast<FwWorkFolderRecord *>(record);
  if (!im || !rec || !path || rec->Magic != FW_WORKFOLDER_MAGIC) return 1;
  sim::HostFs::Resolved where = im->Resolve(std::string("/") + path);
  std::error_code ec;
  if (!std::filesystem::is_directory(where.host, ec)) return 2;
  auto &sel = im->selectedFolders;
  size_t index = 0;
  while (index < sel.size() && sel[index] != where.receiverPath) ++index;
  if (index == sel.size()) sel.push_back(where.receiverPath);
  rec->fwPrivate[0] = kSelectedMark;
  rec->fwPrivate[1] = static_cast<dword>(index);
  rec->fwPrivate[2] = 0;
  return 0;
}

extern "C" __attribute__((visibility("default"))) dword SimFw_SetWorkFolder(void *record)
{
  Receiver::Impl *im = LiveOrWarn("ApplHdd_SetWorkFolder");
  auto *rec = static_cast<FwWorkFolderRecord *>(record);
  if (!im || !rec || rec->fwPrivate[0] != kSelectedMark || rec->fwPrivate[1] >= im->selectedFolders.size()) {
    sim::PluginError("ApplHdd_SetWorkFolder", "not a selected folder record; ignored");
    return 0;
  }
  im->workFolder = im->selectedFolders[rec->fwPrivate[1]];
  return 1;
}

// Loads a plug-in file of the work folder into a free slot and runs its
// TAP_Main before returning (the caller's current task comes back after it).
extern "C" __attribute__((visibility("default"))) dword SimFw_ExecProgram(const char *fileName)
{
  Receiver::Impl *im = LiveOrWarn("Appl_ExecProgram");
  if (!im || !fileName || !*fileName) return 0;
  std::string error;
  int slot = im->self->Load(im->workFolder + "/" + fileName, &error);
  if (slot < 0) {
    sim::SimWarn("Appl_ExecProgram", error);
    return 0;
  }
  return 1;
}
