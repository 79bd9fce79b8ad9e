// HostFs.h -- the receiver's file system mapped onto host folders (bottom side).
//
// Receiver paths are normalised lexically (".." never above "/"). The longest
// present mount wins; an absent mount shows the sandbox folder underneath,
// as Linux shows an unmounted mount point. Device numbers: 0x802 for the
// internal disk and bind mounts of its folders, 0x811, 0x821, ... for other
// mounts, 0x1F00 for the rest of the root file system.
#pragma once

#include <sys/types.h>

#include "tap_api.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Receiver.h"

namespace sim {

constexpr dev_t kInternalDiskDev = TAP_INTERNAL_DISK_DEV;
constexpr dev_t kRootFsDev = 0x1F00;

// "/a/./b/../c/" -> "/a/c"; relative input counts from "/"; never above "/".
std::string NormalizeReceiverPath(std::string_view path);
// True when <path> is <prefix> or lies below it (both normalised).
bool PathHasPrefix(std::string_view path, std::string_view prefix);

class HostFs {
 public:
  HostFs(const std::filesystem::path &root, const std::vector<MountConfig> &mounts);

  // Times are the clock's 10-ms ticks: the questions asked at every file
  // call compare integers (a receiver CPU without an FPU would emulate every
  // floating-point instruction of them, and the box counts those).
  // The end of the mount's silence (seconds) when it does not answer at the
  // tick, else -1.
  double SilentUntil(int index, uint32_t nowTicks) const;

  struct Resolved {
    std::string receiverPath;    // normalised receiver path
    std::filesystem::path host;  // host path that backs it
    int mount = -1;              // index of the present mount serving it, -1 for none
    dev_t dev = kRootFsDev;      // the receiver's device number for it
  };
  Resolved Resolve(std::string_view receiverPath, uint32_t nowTicks) const;

  // The receiver's device of a host file (a symbolic link's target): the
  // present mount whose host folder holds it, else the internal disk or the
  // root file system by where it lies in the sandbox.
  dev_t DeviceOfHost(const std::filesystem::path &host, uint32_t nowTicks) const;

  bool MountPresent(int index, uint32_t nowTicks) const;
  // True when the path is the mount point of a present mount: removing or
  // renaming it fails (EBUSY) as on Linux, and never reaches the host folder.
  bool IsMountPoint(std::string_view receiverPath, uint32_t nowTicks) const;
  size_t MountCount() const { return mounts_.size(); }
  const MountConfig &Mount(int index) const { return mounts_[index].given; }
  void SetVanishAt(int index, double when)
  {
    mounts_[index].given.vanishAt = when;
    mounts_[index].Tick();
  }
  void SetAppearAt(int index, double when)
  {
    mounts_[index].given.appearAt = when;
    mounts_[index].Tick();
  }
  void SetSilence(int index, double at, double seconds)
  {
    mounts_[index].given.silentAt = at;
    mounts_[index].given.silentFor = seconds;
    mounts_[index].Tick();
  }
  int AddMount(const MountConfig &mount);
  int FindMount(std::string_view receiverPath) const;  // index or -1

  const std::filesystem::path &root() const { return root_; }

 private:
  struct MountEntry {
    MountConfig given;  // as configured, receiver path normalised
    dev_t dev;          // device number reported for it
    // the first tick at or after each of the given times (-1: never)
    int64_t appearTick = 0, vanishTick = -1, silentTick = -1, silentEndTick = -1;
    void Tick();
  };
  std::filesystem::path root_;
  std::filesystem::path internalHost_;  // host folder of "/mnt/hd"
  std::vector<MountEntry> mounts_;
  dev_t nextDev_ = 0x811;
};

}  // namespace sim
