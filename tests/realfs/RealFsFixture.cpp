// RealFsFixture.cpp -- host programs, mount guards and the private SSH
// server of the real-file-system runs.
//
// Everything is done by host programs (mount, umount, mke2fs, ...), never by
// the mount system call: in the cross build this test runs under the
// emulator, and the programs it starts are the machine's own.
#include "RealFsFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string Join(const std::vector<std::string> &words)
{
  std::string all;
  for (const std::string &w : words) all += (all.empty() ? "" : " ") + w;
  return all;
}

// Waits for a child up to `seconds`; its exit code, 128 + signal, or -1.
int WaitFor(pid_t pid, double seconds)
{
  auto until = Clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (Clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool Running(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

// A folder is a mount point when it lies on another device than its parent;
// a FUSE mount whose daemon died cannot even be asked, and counts too.
bool IsMountPoint(const fs::path &at)
{
  struct stat self {
  }, parent{};
  if (stat(at.c_str(), &self) != 0) return errno == ENOTCONN || errno == EIO;
  if (stat(at.parent_path().c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev;
}

// Whether the mount program works at all here: a tiny tmpfs, once per process.
std::string MountProbe()
{
  static const std::string verdict = [] {
    TempDir dir;
    ProgramRun m =
        RunProgram({FindProgram("mount"), "-t", "tmpfs", "-o", "size=64k", "ferrox-probe", dir.path.string()});
    // under the emulator of the cross build the host's programs may not start
    if (m.exitCode < 0 || m.exitCode == 127)
      return "the host's mount program cannot be started from this test (" + m.output + ")";
    if (m.exitCode != 0) return "mounting is not allowed here (mount: " + m.output + ")";
    RunProgram({FindProgram("umount"), dir.path.string()});
    return std::string();
  }();
  return verdict;
}

bool Accepts(int port)
{
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// An image file of that size that takes room only where it is written.
void MakeSparseImage(const fs::path &image, int megabytes)
{
  std::ofstream(image, std::ios::binary | std::ios::trunc).close();
  fs::resize_file(image, static_cast<uintmax_t>(megabytes) << 20);
}

void WriteText(const fs::path &p, const std::string &text)
{
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

// ---- host programs ----

ProgramRun RunProgram(const std::vector<std::string> &argv, int timeoutSeconds)
{
  TempDir out;
  const fs::path outFile = out.path / "output";
  ProgramRun run;
  pid_t pid = StartProgram(argv, outFile);
  if (pid < 0) {
    run.output = "cannot start " + Join(argv);
    return run;
  }
  run.exitCode = WaitFor(pid, timeoutSeconds);
  if (run.exitCode < 0) {
    kill(pid, SIGKILL);
    WaitFor(pid, 5);
    run.output = "timed out: ";
  }
  run.output += ReadHostFile(outFile);
  while (!run.output.empty() && run.output.back() == '\n') run.output.pop_back();
  return run;
}

void StopProgram(pid_t pid, int signal)
{
  if (pid <= 0) return;
  kill(pid, signal);
  if (WaitFor(pid, 5) < 0) {
    kill(pid, SIGKILL);
    WaitFor(pid, 5);
  }
}

std::string RealFsUnavailable(std::initializer_list<const char *> programs, bool fuse)
{
  if (geteuid() != 0) return "not running as root, so nothing can be mounted";
  for (const char *needed : {"mount", "umount"})
    if (FindProgram(needed).empty()) return std::string("the program ") + needed + " is missing";
  std::string probe = MountProbe();
  if (!probe.empty()) return probe;
  for (const char *p : programs)
    if (FindProgram(p).empty())
      return std::string("the program ") + p + " is missing (tools/install-deps.sh realfs installs it)";
  if (fuse) {
    int fd = open("/dev/fuse", O_RDWR);
    if (fd < 0) return std::string("no usable /dev/fuse (") + std::strerror(errno) + "), so no FUSE mounts";
    close(fd);
  }
  return "";
}

// ---- mounts ----

MountGuard::~MountGuard() { Unmount(); }

void MountGuard::Unmount()
{
  if (mounted_ && RunProgram({FindProgram("umount"), at_.string()}).exitCode != 0)
    RunProgram({FindProgram("umount"), "-l", at_.string()});  // busy or dead: detach it
  mounted_ = false;
  // a FUSE daemon ends by itself once unmounted (ntfs-3g writes its image out first)
  if (daemon_ > 0 && WaitFor(daemon_, 10) < 0) StopProgram(daemon_);
  daemon_ = -1;
  EndGroup();
}

void MountGuard::KillDaemon()
{
  if (daemon_ > 0) kill(daemon_, SIGKILL);
  if (daemon_ > 0) WaitFor(daemon_, 5);
  daemon_ = -1;
  EndGroup();
}

// A daemon started under setsid leads a process group: its helpers (the
// SMB client's per-server processes, which would reconnect and hold files
// open on the server) end with it.
void MountGuard::EndGroup()
{
  if (group_ > 0) kill(-group_, SIGKILL);
  group_ = -1;
}

std::string MountGuard::MountTmpfs(const fs::path &at, const std::string &size)
{
  at_ = at;
  ProgramRun m = RunProgram(
      {FindProgram("mount"), "-t", "tmpfs", "-o", "size=" + size + ",mode=0755", "ferrox-test", at.string()});
  mounted_ = m.exitCode == 0;
  return mounted_ ? Usable() : "mount tmpfs: " + m.output;
}

std::string MountGuard::Resize(const std::string &size)
{
  ProgramRun m = RunProgram({FindProgram("mount"), "-o", "remount,size=" + size, at_.string()});
  return m.exitCode == 0 ? "" : "remount tmpfs: " + m.output;
}

std::string MountGuard::MountExt2Image(const fs::path &image, int megabytes, const fs::path &at, bool readOnly)
{
  at_ = at;
  MakeSparseImage(image, megabytes);
  ProgramRun mk = RunProgram({FindProgram("mke2fs"), "-q", "-F", "-t", "ext2", image.string()});
  if (mk.exitCode != 0) return "mke2fs: " + mk.output;
  ProgramRun m = RunProgram({FindProgram("mount"), "-o", "loop", image.string(), at.string()});
  mounted_ = m.exitCode == 0;
  std::string why = mounted_ ? Usable() : "mount -o loop: " + m.output;
  // read-only only once it was seen to work, as a drive with errors is remounted
  if (why.empty() && readOnly) {
    ProgramRun ro = RunProgram({FindProgram("mount"), "-o", "remount,ro", at.string()});
    if (ro.exitCode != 0) why = "mount -o remount,ro: " + ro.output;
  }
  return why;
}

std::string MountGuard::MountNtfsImage(const fs::path &image, int megabytes, const fs::path &at)
{
  MakeSparseImage(image, megabytes);
  ProgramRun mk = RunProgram({FindProgram("mkntfs"), "-q", "-F", "-f", image.string()});
  if (mk.exitCode != 0) return "mkntfs: " + mk.output;
  // windows_names: the drive refuses every name Windows could not open,
  // as a drive used on both sides is
  return MountFuse({FindProgram("ntfs-3g"), "-o", "no_detach,windows_names", image.string(), at.string()}, at,
                   image.string() + ".log");
}

std::string MountGuard::MountFuse(const std::vector<std::string> &argv, const fs::path &at, const fs::path &logFile,
                                  const fs::path &writableBelow)
{
  at_ = at;
  daemonLog_ = logFile;
  writableBelow_ = writableBelow;
  daemon_ = StartProgram(argv, logFile);
  if (daemon_ < 0) return "cannot start " + Join(argv);
  if (fs::path(argv[0]).filename() == "setsid") group_ = daemon_;
  // the daemon's name, also behind "env NAME=VALUE"
  std::string name = fs::path(argv[0]).filename().string();
  for (size_t i = 1; (name == "env" || name == "setsid") && i < argv.size(); i++)
    if (argv[i].find('=') == std::string::npos) name = fs::path(argv[i]).filename().string();
  return WaitForMount(name);
}

// A mount that came up may still refuse work (a FUSE daemon that died on
// its first request, a namespace without the rights): one file written,
// read back and removed tells, in the folder below the mount that takes
// files (a network's share appears a moment after its root).
std::string MountGuard::Usable()
{
  const fs::path folder = at_ / writableBelow_;
  for (int i = 0; i < 200 && !fs::is_directory(folder); i++) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const fs::path probe = folder / "ferrox-probe";
  WriteText(probe, "probe");
  bool ok = ReadHostFile(probe) == "probe";
  std::error_code ec;
  ok = fs::remove(probe, ec) && ok;
  if (ok) return "";
  std::string log = daemonLog_.empty() ? "" : ReadHostFile(daemonLog_);
  return "the file system mounted on " + at_.string() + " takes no files (" +
         (ec ? ec.message() : "written bytes did not come back") + ") " + log;
}

std::string MountGuard::WaitForMount(const std::string &what)
{
  auto until = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < until) {
    if (IsMountPoint(at_)) {
      mounted_ = true;
      return Usable();
    }
    if (!Running(daemon_)) {
      daemon_ = -1;
      return what + " ended without mounting: " + ReadHostFile(daemonLog_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  StopProgram(daemon_);
  daemon_ = -1;
  return what + " did not mount within 20 s: " + ReadHostFile(daemonLog_);
}

// ---- the private SSH server ----

SshServer::~SshServer() { StopProgram(pid_); }

std::string SshServer::Start()
{
  const fs::path d = dir_.path;
  for (const char *key : {"host_key", "client_key"}) {
    ProgramRun k = RunProgram(
        {FindProgram("ssh-keygen"), "-q", "-t", "ed25519", "-N", "", "-C", "ferrox-test", "-f", (d / key).string()});
    if (k.exitCode != 0) return "ssh-keygen: " + k.output;
  }
  fs::copy_file(d / "client_key.pub", d / "authorized_keys");
  port_ = FreeLoopbackPort();
  if (port_ == 0) return "no free port on the loopback interface";
  WriteText(d / "sshd_config", "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\n" + "HostKey " +
                                   (d / "host_key").string() + "\nAuthorizedKeysFile " +
                                   (d / "authorized_keys").string() + "\nPidFile " + (d / "sshd.pid").string() +
                                   "\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                                   "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                                   "Subsystem sftp internal-sftp\nLogLevel ERROR\n");
  WriteText(d / "known_hosts", "[127.0.0.1]:" + std::to_string(port_) + " " + ReadHostFile(d / "host_key.pub"));
  WriteText(d / "ssh_config", "Host ferrox-nas\n  HostName 127.0.0.1\n  Port " + std::to_string(port_) +
                                  "\n  User root\n  IdentityFile " + (d / "client_key").string() +
                                  "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + (d / "known_hosts").string() +
                                  "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n  BatchMode yes\n");

  // sshd insists on its privilege separation folder /run/sshd. Where the
  // machine has none, the server gets a mount namespace of its own with a
  // small /run, so nothing of the machine changes.
  std::vector<std::string> cmd = {FindProgram("sshd"), "-D", "-e", "-f", (d / "sshd_config").string()};
  if (!fs::exists("/run/sshd")) {
    if (FindProgram("unshare").empty()) return "/run/sshd is missing and unshare is not there to stand in";
    cmd = {FindProgram("unshare"),
           "-m",
           "--propagation",
           "private",
           "sh",
           "-c",
           "mount -t tmpfs -o size=64k,mode=0755 ferrox-sshd /run && mkdir -m 0755 /run/sshd && "
           "exec \"$0\" \"$@\"",
           cmd[0],
           cmd[1],
           cmd[2],
           cmd[3],
           cmd[4]};
  }
  pid_ = StartProgram(cmd, d / "sshd.log");
  if (pid_ < 0) return "cannot start " + Join(cmd);
  auto until = Clock::now() + std::chrono::seconds(10);
  while (!Accepts(port_)) {
    if (!Running(pid_) || Clock::now() >= until) {
      StopProgram(pid_);
      pid_ = -1;
      return "sshd did not start: " + ReadHostFile(d / "sshd.log");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

std::vector<std::string> SshServer::SshfsCommand(const fs::path &served, const fs::path &at) const
{
  // -f: in the foreground, so that the guard knows the daemon's pid
  return {FindProgram("sshfs"), "-f", "-F", (dir_.path / "ssh_config").string(), "ferrox-nas:" + served.string(),
          at.string()};
}

// ---- Samba ----

std::string SmbServer::Start(const fs::path &served)
{
  Kill();
  const fs::path d = dir_.path;
  // Port 445 is one for all: the tests of this project that serve SMB take
  // turns (a lock file held while a server of theirs lives); what still
  // listens then is someone else's.
  if (lock_ < 0) {
    lock_ = open("/tmp/ferrox-test-smb-445.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    auto until = Clock::now() + std::chrono::minutes(15);
    while (lock_ >= 0 && flock(lock_, LOCK_EX | LOCK_NB) != 0 && Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (Accepts(445)) return "port 445 of the loopback address is taken by another server";
  // a NAS that comes back starts with empty lock and state records, as its
  // /run is new after a boot: records of the killed processes (zombies
  // that nobody reaps here may still answer as alive) would refuse opens
  const fs::path run = d / ("run" + std::to_string(++starts_));
  for (const fs::path &sub : {d / "private", run / "lock", run / "state", run / "cache", run / "pid"})
    fs::create_directories(sub);
  WriteText(d / "smb.conf",
            "[global]\n  interfaces = 127.0.0.1\n  bind interfaces only = yes\n  smb ports = 445\n"
            "  disable netbios = yes\n  server role = standalone server\n  map to guest = Bad User\n"
            "  guest account = root\n  load printers = no\n  printcap name = /dev/null\n"
            "  disable spoolss = yes\n  private dir = " +
                (d / "private").string() + "\n  lock directory = " + (run / "lock").string() +
                "\n  state directory = " + (run / "state").string() +
                "\n  cache directory = " + (run / "cache").string() + "\n  pid directory = " + (run / "pid").string() +
                "\n  log file = " + (d / "smbd.log").string() +
                "\n  log level = 1\n"
                "[nas]\n  path = " +
                served.string() + "\n  guest ok = yes\n  guest only = yes\n  read only = no\n  force user = root\n");
  // setsid: the server leads a process group that Kill() ends whole
  std::vector<std::string> cmd = {FindProgram("setsid"), FindProgram("smbd"), "--foreground", "--no-process-group",
                                  "--configfile=" + (d / "smb.conf").string()};
  pid_ = StartProgram(cmd, d / "smbd.out");
  if (pid_ < 0) return "cannot start " + Join(cmd);
  auto until = Clock::now() + std::chrono::seconds(15);
  while (!Accepts(445)) {
    if (!::Running(pid_) || Clock::now() >= until) {
      Kill();
      return "smbd did not start: " + ReadHostFile(d / "smbd.out") + ReadHostFile(d / "smbd.log");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

SmbServer::~SmbServer()
{
  Kill();
  if (lock_ >= 0) close(lock_);  // the next test's turn
}

void SmbServer::Kill()
{
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  WaitFor(pid_, 5);
  pid_ = -1;
  // the port is free again once the kernel has closed the listener
  auto until = Clock::now() + std::chrono::seconds(5);
  while (Accepts(445) && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::vector<std::string> SmbServer::ClientCommand(const fs::path &at)
{
  // Each mount gets a home of its own: the client's settings (guests, SMB2
  // or later) and the SMB library's cache and lock folders, which would
  // otherwise be the machine's (/run/samba), shared with every earlier
  // client and its memory of a server that went away.
  const fs::path home = dir_.path / ("client" + std::to_string(++clients_));
  for (const char *sub : {".smb", "cache", "lock", "state", "private"}) fs::create_directories(home / sub);
  WriteText(home / ".smb/smb.conf",
            "[global]\n  client min protocol = SMB2\n  workgroup = WORKGROUP\n  cache directory = " +
                (home / "cache").string() + "\n  lock directory = " + (home / "lock").string() +
                "\n  state directory = " + (home / "state").string() +
                "\n  private dir = " + (home / "private").string() + "\n");
  WriteText(home / ".smb/smbnetfs.conf", "auth \"guest\" \"\"\nsmb_timeout 5000\n");
  fs::permissions(home / ".smb/smb.conf", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(home / ".smb/smbnetfs.conf", fs::perms::owner_read | fs::perms::owner_write);
  // -f: in the foreground, so that the guard knows the daemon's pid;
  // setsid: the client and its per-server helpers are one process group
  return {
      FindProgram("setsid"), FindProgram("env"), "HOME=" + home.string(), FindProgram("smbnetfs"), "-f", at.string()};
}

// ---- fixture ----

void RealFsTest::TearDown()
{
  std::string tk = ToolkitLog();
  EXPECT_EQ(tk.find("CallLevel Underflow"), std::string::npos) << tk;
  EXPECT_EQ(tk.find("CallLevel Overflow"), std::string::npos) << tk;
  ScenarioTest::TearDown();
}

std::vector<std::string> RealFsTest::LogLinesStartingWith(std::string_view prefix) const
{
  std::vector<std::string> found;
  for (const std::string &l : LogLines())
    if (l.compare(0, prefix.size(), prefix) == 0) found.push_back(l);
  return found;
}

time_t RealFsTest::MTime(const fs::path &p)
{
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
}
