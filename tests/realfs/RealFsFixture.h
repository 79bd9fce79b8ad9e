// RealFsFixture.h -- whole runs of the copy service onto real file systems:
// host programs started from the test (mount, mke2fs, mkntfs, ntfs-3g,
// sshd, sshfs), guards that always unmount and stop what they started, and
// the reason a test skips when this machine cannot mount.
// The receiver still sees the share at /mnt/hd/DataFiles/NAS-Share: the
// fixture's `share` folder is the mount point of the real file system.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "HostPrograms.h"
#include "ScenarioFixture.h"

struct ProgramRun {
  int exitCode = -1;   // -1 when it could not be started
  std::string output;  // standard output and error together
};
// Runs a host program to its end (killed after `timeoutSeconds`).
ProgramRun RunProgram(const std::vector<std::string> &argv, int timeoutSeconds = 60);
// Ends a program this test started: the signal, then SIGKILL if it lingers.
void StopProgram(pid_t pid, int signal = SIGTERM);

// Why real-file-system runs cannot be done here with these programs ("" when
// they can): not root, mounts refused, a program missing, no FUSE device.
std::string RealFsUnavailable(std::initializer_list<const char *> programs, bool fuse = false);

// A real file system mounted on a folder. Going out of scope it unmounts
// (lazily when the file system is busy or its FUSE daemon is gone) and
// stops the daemon it started, also when the test failed half-way.
class MountGuard {
 public:
  MountGuard() = default;
  MountGuard(const MountGuard &) = delete;
  MountGuard &operator=(const MountGuard &) = delete;
  ~MountGuard();

  // "" on success, else what went wrong (with the helper's own words); the
  // file system is then tried with one file before it counts as mounted.
  std::string MountTmpfs(const fs::path &at, const std::string &size);
  std::string Resize(const std::string &size);  // tmpfs only
  // A fresh image of `megabytes` (sparse) with the file system, then mounted.
  std::string MountExt2Image(const fs::path &image, int megabytes, const fs::path &at, bool readOnly = false);
  std::string MountNtfsImage(const fs::path &image, int megabytes, const fs::path &at);
  // A FUSE daemon started in the foreground; ready once the folder changed device.
  // `writableBelow`: where below the mount point files can be written (the
  // probe goes there), "" for the mount point itself.
  std::string MountFuse(const std::vector<std::string> &argv, const fs::path &at, const fs::path &logFile,
                        const fs::path &writableBelow = {});

  // Kills the FUSE daemon at once, as a share that drops off the network.
  void KillDaemon();
  void Unmount();
  bool Mounted() const { return mounted_; }

 private:
  std::string WaitForMount(const std::string &what);
  std::string Usable();
  void EndGroup();

  fs::path at_;             // the mount point
  bool mounted_ = false;    // a file system (maybe a dead one) is on at_
  pid_t daemon_ = -1;       // FUSE daemon this guard started, -1 for none
  pid_t group_ = -1;        // its process group, when it leads one (setsid)
  fs::path daemonLog_;      // its output, for the messages
  fs::path writableBelow_;  // the folder below at_ that takes files
};

// A private SSH server on a free loopback port, as root, with its own host
// key, configuration and authorized key in a temporary folder; the
// machine's own SSH setup is left alone. Stopped when it goes out of scope.
class SshServer {
 public:
  SshServer() = default;
  SshServer(const SshServer &) = delete;
  SshServer &operator=(const SshServer &) = delete;
  ~SshServer();

  std::string Start();  // "" on success
  // The sshfs command that mounts `served` (a host folder) on `at`.
  std::vector<std::string> SshfsCommand(const fs::path &served, const fs::path &at) const;

 private:
  TempDir dir_;     // keys, configuration, logs
  pid_t pid_ = -1;  // the server (or the namespace launcher it replaced)
  int port_ = 0;
};

// A private Samba server for one host folder, shared as "nas" to guests on
// 127.0.0.1:445 (the FUSE client takes no other port), with its
// configuration, state and logs in a temporary folder; the machine's own
// Samba setup is left alone. The server and its per-client processes are
// one process group of their own, stopped by its id, never by name.
class SmbServer {
 public:
  SmbServer() = default;
  SmbServer(const SmbServer &) = delete;
  SmbServer &operator=(const SmbServer &) = delete;
  ~SmbServer();

  std::string Start(const fs::path &served);  // "" on success
  void Kill();                                // the NAS switched off: every process at once
  bool Running() const { return pid_ > 0; }
  // The smbnetfs command that mounts the network on `at` (the share is then
  // at/127.0.0.1/nas), with a home folder of the test's for its settings.
  std::vector<std::string> ClientCommand(const fs::path &at);
  fs::path Log() const { return dir_.path / "smbd.log"; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;   // the server's process, leader of its group
  int starts_ = 0;   // each start has lock and state folders of its own
  int clients_ = 0;  // and each client mount its home
  int lock_ = -1;    // the turn at port 445 (a lock file), held while this lives
};

class RealFsTest : public ScenarioTest {
 protected:
  void TearDown() override;

  // Log lines that begin with `prefix`.
  std::vector<std::string> LogLinesStartingWith(std::string_view prefix) const;
  static time_t MTime(const fs::path &p);
  // Receiver path of a file in the source folder.
  static std::string Source(const std::string &name) { return std::string(kMoveToNAS) + "/" + name; }
};

// Mounting a fresh file system fails only for reasons of the machine (no
// loop devices, FUSE refused in a container, ...): the test skips with them.
#define REQUIRE_MOUNTED(mountCall)                                                       \
  do {                                                                                   \
    std::string why_ = (mountCall);                                                      \
    if (!why_.empty()) GTEST_SKIP() << "real file systems: cannot mount here: " << why_; \
  } while (0)

// Skips the test (with its reason) when the machine cannot do real mounts.
#define REQUIRE_REAL_FS(...)                                          \
  do {                                                                \
    std::string why_ = RealFsUnavailable(__VA_ARGS__);                \
    if (!why_.empty()) GTEST_SKIP() << "real file systems: " << why_; \
  } while (0)
