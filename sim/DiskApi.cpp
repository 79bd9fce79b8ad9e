// DiskApi.cpp -- the receiver's disk calls (TAP_Hdd_*) over the sandbox.
//
// Names are TAPFS names: absolute ("/DataFiles/a.rec", "/" = "/mnt/hd") or
// relative to the calling plug-in's current folder, which lives in its table
// entry as an OS path. ".." never leaves the TAPFS root. Mounts below
// "/mnt/hd" are honoured, write faults counted, and handles on a share that
// vanished fail. Bad handles and null pointers are reported, never followed.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Fatal.h"
#include "ReceiverImpl.h"
#include "receiver_paths.h"

namespace fs = std::filesystem;
using sim::DiskHandle;
using sim::LiveOrWarn;
using sim::Receiver;
using sim::Slot;

namespace sim {

std::string Receiver::Impl::TapfsToOs(const Slot &s, const char *name) const
{
  std::string current = s.folderPath + TAPFS_ROOT_LEN;
  std::string tapfs = NormalizeReceiverPath(name[0] == '/' ? std::string(name) : current + "/" + name);
  std::string os = tapfs == "/" ? TAPFS_ROOT : TAPFS_ROOT + tapfs;
  return os.size() < 512 ? os : "";
}

}  // namespace sim

// The caller's slot and the OS path of a name; null when the call cannot go on.
static Receiver::Impl *Prepare(const char *call, const char *name, std::string *os)
{
  Receiver::Impl *im = LiveOrWarn(call);
  if (!im) return nullptr;
  if (name == nullptr) {
    sim::SimWarn(call, "null name; ignored");
    return nullptr;
  }
  *os = im->TapfsToOs(im->CurrentOrFallback(), name);
  if (os->empty()) {
    sim::SimWarn(call, "path too long; ignored");
    return nullptr;
  }
  return im;
}

static DiskHandle *Handle(Receiver::Impl *im, FwFileRecord *file, const char *call)
{
  auto it = im->handles.find(file);
  if (it == im->handles.end()) {
    sim::PluginError(call, "not an open file handle; ignored");
    return nullptr;
  }
  if (im->MountGone(it->second->mount)) {
    errno = EIO;  // the share under the open file is gone
    return nullptr;
  }
  return it->second.get();
}

extern "C" dword TAP_Hdd_ChangeDir(const char *folder)
{
  std::string os;
  Receiver::Impl *im = Prepare("TAP_Hdd_ChangeDir", folder, &os);
  if (!im) return 0;
  std::error_code ec;
  if (!fs::is_directory(im->Resolve(os).host, ec)) return 0;
  Slot &s = im->CurrentOrFallback();
  std::snprintf(s.folderPath, sizeof s.folderPath, "%s", os.c_str());
  return 1;
}

extern "C" bool TAP_Hdd_Exist(const char *name)
{
  std::string os;
  Receiver::Impl *im = Prepare("TAP_Hdd_Exist", name, &os);
  std::error_code ec;
  return im && fs::exists(im->Resolve(os).host, ec);
}

extern "C" dword TAP_Hdd_Create(const char *name, byte attr)
{
  std::string os;
  Receiver::Impl *im = Prepare("TAP_Hdd_Create", name, &os);
  if (!im) return 0;
  fs::path host = im->Resolve(os).host;
  std::error_code ec;
  im->ChangeComing();  // a moment to cut at; the firmware's own change is certain at once
  if (attr == ATTR_FOLDER) {
    fs::create_directory(host, ec);
    return fs::is_directory(host, ec) ? 1 : 0;
  }
  if (attr != ATTR_NORMAL) {
    sim::SimWarn("TAP_Hdd_Create", "unknown attribute " + std::to_string(attr) + "; ignored");
    return 0;
  }
  // An existing file keeps its contents: creating is never a way to lose data.
  if (fs::exists(host, ec)) return fs::is_regular_file(host, ec) ? 1 : 0;
  FILE *f = std::fopen(host.c_str(), "wb");
  if (!f) return 0;
  std::fclose(f);
  return 1;
}

extern "C" bool TAP_Hdd_Delete(const char *name)
{
  std::string os;
  Receiver::Impl *im = Prepare("TAP_Hdd_Delete", name, &os);
  // The disk's root and a mount point are busy, as on the receiver; deleting
  // an empty share's mount point would otherwise remove the host folder.
  if (!im || os == TAPFS_ROOT || im->IsMountPoint(os)) return false;
  im->ChangeComing();
  std::error_code ec;
  return fs::remove(im->Resolve(os).host, ec);  // a folder only when empty
}

extern "C" FwFileRecord *TAP_Hdd_Fopen(const char *name)
{
  std::string os;
  Receiver::Impl *im = Prepare("TAP_Hdd_Fopen", name, &os);
  if (!im) return nullptr;
  sim::HostFs::Resolved where = im->Resolve(os);
  std::error_code ec;
  if (!fs::is_regular_file(where.host, ec)) return nullptr;
  FILE *f = std::fopen(where.host.c_str(), "r+b");
  if (!f) f = std::fopen(where.host.c_str(), "rb");
  if (!f) return nullptr;
  auto h = std::make_unique<DiskHandle>();
  h->file.SetPath(where.receiverPath);
  h->stream = f;
  h->mount = where.mount;
  FwFileRecord *rec = &h->file.rec;
  im->handles[rec] = std::move(h);
  return rec;
}

extern "C" dword TAP_Hdd_Fread(void *buf, dword blockSize, dword blocks, FwFileRecord *file)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_Fread");
  DiskHandle *h = im ? Handle(im, file, "TAP_Hdd_Fread") : nullptr;
  if (!h || !buf || blockSize == 0) return 0;
  return static_cast<dword>(std::fread(buf, blockSize, blocks, h->stream));
}

extern "C" dword TAP_Hdd_Fwrite(const void *buf, dword blockSize, dword blocks, FwFileRecord *file)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_Fwrite");
  DiskHandle *h = im ? Handle(im, file, "TAP_Hdd_Fwrite") : nullptr;
  if (!h || !buf || blockSize == 0) return 0;
  const uint64_t want = static_cast<uint64_t>(blockSize) * blocks;
  const uint64_t allowed = im->WriteAllowance(h->file.absPath, want);
  if (allowed > 0 && im->ChangeComing()) {
    std::fflush(h->stream);
    im->power->BeforeWrite(fileno(h->stream), std::ftell(h->stream), allowed);
  }
  size_t whole = std::fwrite(buf, blockSize, static_cast<size_t>(allowed / blockSize), h->stream);
  size_t part = allowed % blockSize;
  if (part && whole == allowed / blockSize)  // the disk fills up in the middle of a block
    std::fwrite(static_cast<const char *>(buf) + whole * blockSize, 1, part, h->stream);
  im->CountWritten(h->file.absPath, whole * blockSize + part);
  if (im->power) std::fflush(h->stream);
  if (allowed < want) errno = ENOSPC;
  return static_cast<dword>(whole);
}

extern "C" dword TAP_Hdd_Fseek(FwFileRecord *file, long pos, long where)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_Fseek");
  DiskHandle *h = im ? Handle(im, file, "TAP_Hdd_Fseek") : nullptr;
  if (!h) return 0;
  int whence = where == 1 ? SEEK_CUR : where == 2 ? SEEK_END : SEEK_SET;
  std::fseek(h->stream, pos, whence);
  return static_cast<dword>(std::ftell(h->stream));
}

extern "C" dword TAP_Hdd_Flen(FwFileRecord *file)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_Flen");
  DiskHandle *h = im ? Handle(im, file, "TAP_Hdd_Flen") : nullptr;
  if (!h) return 0;
  std::fflush(h->stream);
  struct stat st;
  if (fstat(fileno(h->stream), &st) != 0) return 0;
  return static_cast<dword>(st.st_size);  // the firmware's length is 32 bits
}

extern "C" void TAP_Hdd_Fclose(FwFileRecord *file)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_Fclose");
  if (!im) return;
  auto it = im->handles.find(file);
  if (it == im->handles.end()) {
    sim::PluginError("TAP_Hdd_Fclose", "not an open file handle (never opened, or closed already); ignored");
    return;
  }
  // the firmware writes its files through: closed is on the disk
  if (im->power && std::fflush(it->second->stream) == 0) im->power->ClosedFirmwareFile(fileno(it->second->stream));
  std::fclose(it->second->stream);
  im->handles.erase(it);
}

// True when <name> passes the "|"-separated extension filter ("rec|mpg|ts").
static bool PassesFilter(const std::string &name, const char *filter)
{
  if (filter == nullptr || *filter == '\0' || std::strcmp(filter, "*") == 0) return true;
  size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  std::string f = filter;
  size_t pos = 0;
  while (pos <= f.size()) {
    size_t end = f.find('|', pos);
    if (end == std::string::npos) end = f.size();
    if (dot != std::string::npos && f.compare(pos, end - pos, ext) == 0 && end - pos == ext.size()) return true;
    pos = end + 1;
  }
  return false;
}

static void FillEntry(TapDirEntry *entry, const sim::DirItem &item)
{
  std::memset(entry, 0, sizeof *entry);
  entry->Attr = item.folder ? ATTR_FOLDER : ATTR_NORMAL;
  entry->DateStamp = item.stamp;
  std::snprintf(entry->Name, sizeof entry->Name, "%s", item.name.c_str());
}

static std::vector<sim::DirItem> ListFolder(const fs::path &dir, const char *filter)
{
  std::vector<sim::DirItem> items;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    struct stat st;
    if (stat(it->path().c_str(), &st) != 0) continue;  // a dangling link lists as nothing
    bool folder = S_ISDIR(st.st_mode);
    if (!folder && !S_ISREG(st.st_mode)) continue;
    if (!folder && !PassesFilter(name, filter)) continue;
    items.push_back({name, folder, sim::PackedTimeOf(st.st_mtime)});
  }
  std::sort(items.begin(), items.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
  return items;
}

extern "C" dword TAP_Hdd_FindFirst(TapDirEntry *entry, const char *extFilter)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_FindFirst");
  if (!im) return 0;
  if (!entry) {
    sim::SimWarn("TAP_Hdd_FindFirst", "null entry; ignored");
    return 0;
  }
  Slot &s = im->CurrentOrFallback();
  s.find = ListFolder(im->Resolve(s.folderPath).host, extFilter);
  s.findPos = 0;
  if (s.find.empty()) return 0;
  FillEntry(entry, s.find[s.findPos++]);
  return static_cast<dword>(s.find.size());
}

extern "C" dword TAP_Hdd_FindNext(TapDirEntry *entry)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_FindNext");
  if (!im || !entry) return 0;
  Slot &s = im->CurrentOrFallback();
  if (s.findPos >= s.find.size()) return 0;
  FillEntry(entry, s.find[s.findPos++]);
  return 1;
}

extern "C" bool TAP_Hdd_GetPlayInfo(FwPlayInfo *info)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_GetPlayInfo");
  if (!im || !info) return false;
  std::memset(info, 0, sizeof *info);
  if (im->playing) {
    info->PlayMode = im->playMode;
    info->PlayActive = 1;
    info->File = &im->playFile.rec;
  }
  return true;
}

extern "C" bool TAP_Hdd_StopRecord(byte slot)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_StopRecord");
  if (!im || slot >= FW_REC_SLOT_TABLE) return false;
  im->stops.push_back("StopRecord " + std::to_string(slot));
  im->self->StopRecording(slot);
  return true;
}

extern "C" bool TAP_Hdd_StopTs(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_StopTs");
  if (!im) return false;
  im->stops.push_back("StopTs");
  im->playing = false;
  return true;
}

extern "C" bool TAP_Hdd_StopMp3(void)
{
  Receiver::Impl *im = LiveOrWarn("TAP_Hdd_StopMp3");
  if (!im) return false;
  im->stops.push_back("StopMp3");
  im->playing = false;
  return true;
}
