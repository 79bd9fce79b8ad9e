// StatusRequester.cpp -- status requests to the copy service, as another
// plug-in sends them, and the replies in words.
//
// The service is found in the plug-in table by the id in its file, the way
// the toolkit finds plug-ins; the channel record and the reply block live in
// the requester's memory and are answered in place during the event.
#include "StatusRequester.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "FirmwareState.h"

namespace sim {

namespace {

// Section table of an ELF file read whole; both classes share the walk.
template <typename Ehdr, typename Shdr>
dword IdOfImage(const std::vector<char> &image)
{
  Ehdr eh;
  if (image.size() < sizeof eh) return 0;
  std::memcpy(&eh, image.data(), sizeof eh);
  auto section = [&](size_t i, Shdr *sh) {
    uint64_t at = eh.e_shoff + static_cast<uint64_t>(i) * sizeof(Shdr);
    if (at + sizeof(Shdr) > image.size()) return false;
    std::memcpy(sh, image.data() + at, sizeof(Shdr));
    return true;
  };
  Shdr names;
  if (eh.e_shstrndx >= eh.e_shnum || !section(eh.e_shstrndx, &names)) return 0;
  for (size_t i = 1; i < eh.e_shnum; ++i) {
    Shdr sh;
    if (!section(i, &sh) || sh.sh_name >= names.sh_size) continue;
    uint64_t nameAt = names.sh_offset + sh.sh_name;
    if (nameAt >= image.size()) continue;
    const char *name = image.data() + nameAt;
    if (std::strncmp(name, "._tap_id", image.size() - nameAt) != 0) continue;
    if (sh.sh_size != 4 || sh.sh_offset + 4 > image.size()) return 0;
    dword id;
    std::memcpy(&id, image.data() + sh.sh_offset, 4);
    return id;
  }
  return 0;
}

}  // namespace

const char *StatusStateWords(int state)
{
  switch (state) {
    case 0: return "waiting for the folders and the mount";
    case 1: return "waiting for the index-rebuilding plug-in";
    case 2: return "working";
    case 3: return "taking the next job file";
  }
  return nullptr;
}

dword TapFileId(const std::string &hostFile)
{
  std::ifstream in(hostFile, std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0) return 0;
  if (image[EI_CLASS] == ELFCLASS32) return IdOfImage<Elf32_Ehdr, Elf32_Shdr>(image);
  if (image[EI_CLASS] == ELFCLASS64) return IdOfImage<Elf64_Ehdr, Elf64_Shdr>(image);
  return 0;
}

int SlotOfTap(Receiver &rx, dword tapId)
{
  for (int slot = 0; slot < TAP_TABLE_SLOTS; ++slot) {
    const FwTapTableEntry &e = _tapTask[slot];
    if (!rx.IsLoaded(slot) || !e.Handler || !e.File || !e.File->PathInfo || !e.File->PathInfo->AbsPath) continue;
    if (TapFileId(rx.HostPath(e.File->PathInfo->AbsPath).string()) == tapId) return slot;
  }
  return -1;
}

StatusAnswer RequestStatus(Receiver &rx, dword tapId, dword serviceId, dword blockVersion)
{
  StatusAnswer answer;
  int slot = SlotOfTap(rx, tapId);
  if (slot < 0) return answer;

  // The block gets a marker, so a reply that writes nothing shows as such.
  auto block = std::make_unique<FerroxStatusReply>();
  std::memset(block.get(), 0xA5, sizeof(FerroxStatusReply));
  TapComChannel channel{};
  channel.Magic = TAPCOM_MAGIC;
  channel.Version = TAPCOM_VERSION;
  channel.CallerID = kRequesterId;
  channel.ServerID = tapId;
  channel.Status = 1;  // sent, not yet seen
  channel.ServiceID = serviceId;
  channel.ParamBlockVersion = blockVersion;
  channel.ParamBlock = block.get();
  rx.SendEvent(slot, EVT_TAPCOM, reinterpret_cast<TapParam>(&channel), 0);

  answer.sent = true;
  answer.channelStatus = channel.Status;
  answer.reply = *block;
  return answer;
}

std::string DescribeStatus(const StatusAnswer &a)
{
  std::ostringstream out;
  if (!a.sent) return "the copy service is not running";
  if (a.channelStatus != TAPCOM_STATUS_FINISHED) {
    out << "request not answered (channel status " << a.channelStatus << ")";
    return out.str();
  }
  const FerroxStatusReply &r = a.reply;
  std::string name(r.DestFileName, strnlen(r.DestFileName, sizeof r.DestFileName));
  out << "file \"" << name << "\", " << r.TotalBytes << " bytes, " << r.Percent << "%, " << (r.BytesPerMinute >> 20)
      << " MB/min, entry " << r.CurrentEntry << " of " << r.NrOfEntries << ", ";
  if (const char *words = StatusStateWords(r.State)) out << words;
  else out << "state " << r.State;
  return out.str();
}

void AddStatusRequester(Receiver &rx, double every, std::ostream &out)
{
  auto next = std::make_shared<double>(every);
  rx.AddDriver([next, every, &out](Receiver &r) {
    if (r.RunSeconds() < *next) return;
    *next += every;
    out << "receiver: [" << r.Ticks() << "] status: " << DescribeStatus(RequestStatus(r)) << std::endl;
  });
}

}  // namespace sim
