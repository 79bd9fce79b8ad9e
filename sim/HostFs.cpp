// HostFs.cpp -- path normalisation, the mount table and device numbers.
//
// Pure lexical work plus one canonicalisation per mount (to recognise bind
// mounts of the internal disk); nothing here opens files.
#include "HostFs.h"

#include "Fatal.h"
#include "SimClock.h"

namespace sim {

namespace fs = std::filesystem;

std::string NormalizeReceiverPath(std::string_view path)
{
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // at "/" a ".." stays at "/"
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out += '/';
    out += part;
  }
  return out.empty() ? "/" : out;
}

bool PathHasPrefix(std::string_view path, std::string_view prefix)
{
  if (prefix == "/") return true;
  if (path.substr(0, prefix.size()) != prefix) return false;
  return path.size() == prefix.size() || path[prefix.size()] == '/';
}

static fs::path Canonical(const fs::path &p)
{
  std::error_code ec;
  fs::path c = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : c;
}

static bool HostInside(const fs::path &inner, const fs::path &outer)
{
  std::string i = Canonical(inner).string(), o = Canonical(outer).string();
  return PathHasPrefix(i, o);
}

HostFs::HostFs(const fs::path &root, const std::vector<MountConfig> &mounts)
    : root_(Canonical(root)), internalHost_(root_ / "mnt" / "hd")
{
  for (const MountConfig &m : mounts) AddMount(m);
}

int HostFs::AddMount(const MountConfig &mount)
{
  MountEntry e{mount, kInternalDiskDev};
  e.given.receiverPath = NormalizeReceiverPath(mount.receiverPath);
  // A bind mount of a folder of the internal disk stays on its device.
  if (!HostInside(mount.hostPath, internalHost_)) {
    e.dev = nextDev_;
    nextDev_ += 0x10;
  }
  // As on the receiver, the mount point is a folder of its parent whether
  // or not something is mounted on it: empty (on the disk beneath) while
  // nothing is, so listings, status queries and folder pickers find it.
  if (e.given.receiverPath != "/") {
    std::error_code ec;
    const fs::path beneath = root_ / e.given.receiverPath.substr(1);
    fs::create_directories(beneath, ec);
    if (ec || !fs::is_directory(beneath, ec))
      SimWarn("mount", "the mount point " + e.given.receiverPath + " cannot be a folder of its parent (" +
                           beneath.string() + ")");
  }
  e.Tick();
  mounts_.push_back(e);
  return static_cast<int>(mounts_.size()) - 1;
}

int HostFs::FindMount(std::string_view receiverPath) const
{
  std::string norm = NormalizeReceiverPath(receiverPath);
  for (size_t i = 0; i < mounts_.size(); ++i)
    if (mounts_[i].given.receiverPath == norm) return static_cast<int>(i);
  return -1;
}

dev_t HostFs::DeviceOfHost(const fs::path &host, uint32_t now) const
{
  std::string h = Canonical(host).string();
  size_t best = 0;
  dev_t dev = kRootFsDev;
  for (size_t i = 0; i < mounts_.size(); ++i) {
    std::string m = Canonical(mounts_[i].given.hostPath).string();
    if (m.size() >= best && PathHasPrefix(h, m) && MountPresent(static_cast<int>(i), now)) {
      best = m.size();
      dev = mounts_[i].dev;
    }
  }
  if (best == 0 && PathHasPrefix(h, internalHost_.string())) dev = kInternalDiskDev;
  return dev;
}

void HostFs::MountEntry::Tick()
{
  appearTick = FirstTickAt(given.appearAt);
  vanishTick = given.vanishAt < 0 ? -1 : FirstTickAt(given.vanishAt);
  silentTick = given.silentAt < 0 ? -1 : FirstTickAt(given.silentAt);
  silentEndTick = given.silentAt < 0 ? -1 : FirstTickAt(given.silentAt + given.silentFor);
}

bool HostFs::MountPresent(int index, uint32_t now) const
{
  const MountEntry &m = mounts_[index];
  return now >= m.appearTick && (m.vanishTick < 0 || now < m.vanishTick);
}

double HostFs::SilentUntil(int index, uint32_t now) const
{
  if (index < 0 || index >= static_cast<int>(mounts_.size())) return -1;
  const MountEntry &m = mounts_[index];
  if (m.silentTick < 0 || now < m.silentTick || now >= m.silentEndTick) return -1;
  return m.given.silentAt + m.given.silentFor;
}

bool HostFs::IsMountPoint(std::string_view receiverPath, uint32_t now) const
{
  std::string norm = NormalizeReceiverPath(receiverPath);
  for (size_t i = 0; i < mounts_.size(); ++i)
    if (mounts_[i].given.receiverPath == norm && MountPresent(static_cast<int>(i), now)) return true;
  return false;
}

HostFs::Resolved HostFs::Resolve(std::string_view receiverPath, uint32_t now) const
{
  Resolved r;
  r.receiverPath = NormalizeReceiverPath(receiverPath);
  size_t best = 0;
  for (size_t i = 0; i < mounts_.size(); ++i) {
    const std::string &mp = mounts_[i].given.receiverPath;
    if (mp.size() >= best && PathHasPrefix(r.receiverPath, mp) && MountPresent(static_cast<int>(i), now)) {
      best = mp.size();
      r.mount = static_cast<int>(i);
    }
  }
  if (r.mount >= 0) {
    const MountEntry &m = mounts_[r.mount];
    std::string rest = r.receiverPath.substr(m.given.receiverPath == "/" ? 0 : m.given.receiverPath.size());
    r.host = rest.empty() ? m.given.hostPath : m.given.hostPath / rest.substr(1);
    r.dev = m.dev;
    return r;
  }
  r.host = r.receiverPath == "/" ? root_ : root_ / r.receiverPath.substr(1);
  r.dev = PathHasPrefix(r.receiverPath, "/mnt/hd") ? kInternalDiskDev : kRootFsDev;
  return r;
}

}  // namespace sim
