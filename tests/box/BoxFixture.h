// BoxFixture.h -- scenarios in the virtual receiver (box/box.sh): a receiver
// root prepared on the host as for the simulator's scenarios, then laid onto
// the box's real disks, run there by the cross-built firmware on the owners'
// plug-in files, and brought back for the audit.
//
// The root's /mnt/hd becomes the internal disk (JFS, /dev/sda2), its
// /mnt/sdb1 the external drive (ext3, USB), the fixture's share folder the
// NAS share that the box mounts with the kernel's SMB client. After the
// boot the disks' contents replace the root's, so every helper of the
// scenario tests reads what the box left.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ScenarioFixture.h"

// One firmware run in the box: a name for its output and the receiver
// program's options after "--root /".
struct BoxStep {
  std::string name;
  std::vector<std::string> options;
  std::string before = "";  // a shell line run before it (busybox sh), if any
};

struct BoxBoot {
  int status = -1;                         // box.sh's exit status (0: the box powered off)
  double seconds = 0;                      // the boot from start to power-off
  double upAfter = 0;                      // guest seconds until the scenario began
  std::string console;                     // the box's serial console
  std::map<std::string, std::string> out;  // firmware output by step name
  std::map<std::string, int> rc;           // firmware exit status by step name
  // what of the box itself failed (a device stalled, a boot that never got
  // its disks), for a plan that allows it; empty otherwise
  std::string boxFault;
};

// What one boot does: the steps run one after the other, the NAS share
// mounted at /mnt/hd/DataFiles/NAS-Share when `nas` is set, the `shell`
// lines (busybox sh) before them.
struct BoxPlan {
  std::vector<BoxStep> steps;
  bool nas = true;
  std::vector<std::string> shell;
  std::string cpu = "24Kf";  // 24Kc: no FPU
  bool layOut = true;        // the root's /mnt/hd and /mnt/sdb1 laid onto the disks first
  int linger = 0;            // seconds the box stays up after the steps (a cut may come then)
  // done on the host once the steps began, while the box runs (the NAS
  // switched off under a run); given the box's work folder
  std::function<void(const fs::path &work)> meanwhile;
  // a boot that fails by the box's own fault is reported in boxFault, not
  // as a failure of the test (a trial that its caller repeats)
  bool voidable = false;
  // the kernel's count of floating-point instructions it emulated (a CPU
  // without an FPU) printed after each step: "box: emulated after NAME: N"
  bool countFpu = false;
};

// What a boot cut short did: whether the cut came while the box ran, and
// what of the box failed before the steps began.
struct BoxCut {
  bool cut = false;
  std::string boxFault;
};

// The line of a box's console that shows the box itself failed: its
// emulated devices stalled, or it never got its disks or its io share.
std::string BoxFault(const std::string &console);

// A line to QEMU's monitor of a running box ("set_link net0 off"); false
// when the monitor cannot be reached or did not run it.
bool BoxMonitor(const fs::path &work, const std::string &command);

class BoxTest : public ScenarioTest {
 public:
  void SetUp() override;

  // Boots the box on the root and share to its power-off; afterwards the
  // root holds what the disks hold.
  BoxBoot Boot(const BoxPlan &plan);
  BoxBoot Boot(const std::vector<BoxStep> &steps, bool nas = true, const std::vector<std::string> &shell = {},
               const std::string &cpu = "24Kf");
  // Boots it and kills QEMU `cutAfter` seconds after the steps began: a
  // power cut of the receiver. The disks stay as the cut left them for the
  // next Boot with layOut unset.
  BoxCut BootAndCut(const BoxPlan &plan, double cutAfter);
  // The options of a run of Ferrox.tap as the owner installed it.
  static std::vector<std::string> Ferrox(std::vector<std::string> extra = {});
  // The check sums of the plug-ins the box loaded, against the archive's.
  void ExpectOwnersPlugins(const BoxBoot &boot) const;
  fs::path Work() const { return work_.path; }

 private:
  std::string Script(const BoxPlan &plan) const;
  bool Prepare(const BoxPlan &plan);
  TempDir work_;
};

// Where the box was built (BOX_DIR, else build/box of the source tree).
fs::path BoxDir();
