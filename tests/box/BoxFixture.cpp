// BoxFixture.cpp -- boots of the virtual receiver for the box tier.
#include "BoxFixture.h"

#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "HostPrograms.h"

namespace {

constexpr int kBootTimeoutSeconds = 420;

// A host program run to its end (killed after `limit` seconds); its exit
// status, its output in *out.
int RunHost(const std::vector<std::string> &argv, const fs::path &outFile, int limit)
{
  pid_t pid = StartProgram(argv, outFile);
  if (pid < 0) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      // TERM first: box.sh ends its QEMU and its Samba server then
      kill(pid, SIGTERM);
      for (int i = 0; i < 60 && waitpid(pid, &status, WNOHANG) == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Quoted(const std::string &word)
{
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A host folder packed for the guest (the guest's busybox tar keeps the
// names' bytes, which a copy through SMB would not).
bool Pack(const fs::path &folder, const fs::path &tarFile)
{
  fs::create_directories(folder);
  return RunHost({FindProgram("tar"), "-cf", tarFile.string(), "-C", folder.string(), "."}, {}, 120) == 0;
}

bool Unpack(const fs::path &tarFile, const fs::path &folder)
{
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
  return RunHost({FindProgram("tar"), "-xf", tarFile.string(), "-C", folder.string()}, {}, 120) == 0;
}

}  // namespace

fs::path BoxDir()
{
  const char *env = getenv("BOX_DIR");
  return env && *env ? fs::path(env) : fs::path(FERROX_SOURCE_DIR) / "build" / "box";
}

void BoxTest::SetUp()
{
  if (geteuid() != 0) GTEST_SKIP() << "the box needs root (network namespace, Samba as the NAS)";
  for (const char *p : {"qemu-system-mipsel", "unshare", "smbd", "sfdisk", "mkfs.jfs", "mkfs.ext3", "tar", "ip"})
    if (FindProgram(p).empty()) GTEST_SKIP() << p << " is missing (tools/install-deps.sh box installs it)";
  if (!fs::exists(BoxDir() / "initrd.gz") || !fs::exists(BoxDir() / "vmlinuz"))
    GTEST_SKIP() << "the box is not built (make box builds it)";
  ScenarioTest::SetUp();
}

std::vector<std::string> BoxTest::Ferrox(std::vector<std::string> extra)
{
  std::vector<std::string> o = {"--load", "/mnt/hd/ProgramFiles/Ferrox.tap", "--quiet"};
  o.insert(o.end(), extra.begin(), extra.end());
  return o;
}

BoxBoot BoxTest::Boot(const std::vector<BoxStep> &steps, bool nas, const std::vector<std::string> &shell,
                      const std::string &cpu)
{
  BoxPlan plan;
  plan.steps = steps;
  plan.nas = nas;
  plan.shell = shell;
  plan.cpu = cpu;
  return Boot(plan);
}

std::string BoxTest::Script(const BoxPlan &plan) const
{
  std::ostringstream s;
  s << ". /box/lib.sh\n";
  if (plan.layOut)
    s << "tar -xf /io/hd.tar -C /mnt/hd && tar -xf /io/usb.tar -C /mnt/sdb1 || echo 'box: cannot lay out the disks'\n"
      << "install_plugins\nsync\n";
  if (plan.nas) s << "nas_mount || echo 'box: cannot mount the NAS share'\n";
  for (const std::string &line : plan.shell) s << line << "\n";
  const char *emulated = "/sys/kernel/debug/mips/fpuemustats/emulated";
  if (plan.countFpu) s << "mount -t debugfs debugfs /sys/kernel/debug\n";
  s << "echo \"box: scenario starts at $(cut -d' ' -f1 /proc/uptime)\"\n";
  for (const BoxStep &step : plan.steps) {
    if (!step.before.empty()) s << step.before << "\n";
    if (plan.countFpu) s << "echo \"box: emulated before " << step.name << ": $(cat " << emulated << ")\"\n";
    s << "firmware " << Quoted(step.name);
    for (const std::string &o : step.options) s << " " << Quoted(o);
    s << "\n";
    if (plan.countFpu) s << "echo \"box: emulated after " << step.name << ": $(cat " << emulated << ")\"\n";
  }
  s << "echo \"box: steps ended at $(cut -d' ' -f1 /proc/uptime)\"\n";
  if (plan.linger > 0) s << "sleep " << plan.linger << "\n";
  s << "results\n"
    << "tar -cf /io/out/hd.tar -C /mnt/hd DataFiles ProgramFiles\n"
    << "tar -cf /io/out/usb.tar -C /mnt/sdb1 .\n";
  if (plan.nas) s << "nas_umount\n";
  return s.str();
}

bool BoxTest::Prepare(const BoxPlan &plan)
{
  const fs::path work = work_.path, io = work / "io";
  std::error_code ec;
  fs::remove_all(io, ec);
  fs::create_directories(io / "out");
  const std::string box = (fs::path(FERROX_SOURCE_DIR) / "box" / "box.sh").string();
  // a boot that lays the root out gets fresh disks; one after a cut the disks the cut left
  if ((plan.layOut || !fs::exists(work / "hd.img")) &&
      RunHost({box, "disks", work.string()}, work / "disks.out", 120) != 0) {
    ADD_FAILURE() << "box.sh disks failed: " << ReadHostFile(work / "disks.out");
    return false;
  }
  // the NAS serves the fixture's share folder itself
  fs::remove_all(work / "nas", ec);
  fs::create_directory_symlink(share, work / "nas");
  if (plan.layOut && (!Pack(root / "mnt/hd", io / "hd.tar") || !Pack(root / "mnt/sdb1", io / "usb.tar"))) {
    ADD_FAILURE() << "cannot pack the receiver root for the box";
    return false;
  }
  std::ofstream(io / "scenario.sh") << Script(plan);
  return true;
}

static std::vector<std::string> BootCommand(const fs::path &work, const BoxPlan &plan)
{
  return {(fs::path(FERROX_SOURCE_DIR) / "box" / "box.sh").string(),
          "boot",
          work.string(),
          "--cpu",
          plan.cpu,
          "--timeout",
          std::to_string(kBootTimeoutSeconds),
          "--monitor",
          (work / "monitor.sock").string()};
}

bool BoxMonitor(const fs::path &work, const std::string &command)
{
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  const std::string path = (work / "monitor.sock").string();
  std::snprintf(at.sun_path, sizeof at.sun_path, "%s", path.c_str());
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
  const std::string line = command + "\n";
  ok = ok && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  // The monitor takes its input a few bytes at a time: a connection closed
  // before it has read the whole line loses the command. It prints its
  // prompt with the banner and again once the command ran: read till then.
  std::string answer;
  char buffer[512];
  size_t prompts = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ok && prompts < 2 && std::chrono::steady_clock::now() < until) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
    prompts = 0;
    for (size_t at = answer.find("(qemu)"); at != std::string::npos; at = answer.find("(qemu)", at + 1)) prompts++;
  }
  ok = ok && prompts >= 2;
  close(fd);
  return ok;
}

// box.sh boot, with what the plan does meanwhile once the steps began; its
// exit status.
static int RunBoot(const fs::path &work, const BoxPlan &plan)
{
  if (!plan.meanwhile) return RunHost(BootCommand(work, plan), work / "boot.out", kBootTimeoutSeconds + 30);
  std::error_code ec;
  fs::remove(work / "console.log", ec);
  pid_t pid = StartProgram(BootCommand(work, plan), work / "boot.out");
  if (pid < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (ReadHostFile(work / "console.log").find("box: scenario starts") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  plan.meanwhile(work);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

BoxBoot BoxTest::Boot(const BoxPlan &plan)
{
  BoxBoot boot;
  const fs::path work = work_.path, io = work / "io";
  if (!Prepare(plan)) return boot;
  const auto start = std::chrono::steady_clock::now();
  boot.status = RunBoot(work, plan);
  boot.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  boot.console = ReadHostFile(work / "console.log");
  if (boot.status != 0 && plan.voidable) boot.boxFault = BoxFault(boot.console);
  if (!boot.boxFault.empty()) return boot;
  if (boot.status != 0)
    ADD_FAILURE() << "the box ended with status " << boot.status << ": " << ReadHostFile(work / "boot.out")
                  << "\n--- console ---\n"
                  << boot.console;
  size_t at = boot.console.find("box: scenario starts at ");
  if (at != std::string::npos) boot.upAfter = std::atof(boot.console.c_str() + at + 24);
  for (const BoxStep &step : plan.steps) {
    boot.out[step.name] = ReadHostFile(io / "out" / (step.name + ".out"));
    std::string rc = ReadHostFile(io / "out" / (step.name + ".rc"));
    boot.rc[step.name] = rc.empty() ? -1 : std::atoi(rc.c_str());
  }
  // the disks as the box left them replace the root's folders
  std::error_code ec;
  if (!Unpack(io / "out" / "hd.tar", root / "mnt/hd") || !Unpack(io / "out" / "usb.tar", root / "mnt/sdb1"))
    ADD_FAILURE() << "the box gave no disk contents back\n--- console ---\n" << boot.console;
  fs::remove_all(root / "mnt/sdb1/lost+found", ec);  // the file system's, not the receiver's
  // BOX_KEEP=DIR keeps what the box handed back (and its console) for a look
  if (const char *keep = getenv("BOX_KEEP"); keep && *keep) {
    fs::path to = fs::path(keep) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(to, ec);
    fs::copy(io / "out", to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    fs::copy_file(work / "console.log", to / "console.log", fs::copy_options::overwrite_existing, ec);
  }
  if (plan.layOut)
    std::printf("box: boot on %s: %.1f s in all, the scenario began %.1f s after power-on; %zu firmware run(s)\n",
                plan.cpu.c_str(), boot.seconds, boot.upAfter, plan.steps.size());
  return boot;
}

BoxCut BoxTest::BootAndCut(const BoxPlan &plan, double cutAfter)
{
  BoxCut result;
  const fs::path work = work_.path;
  if (!Prepare(plan)) return result;
  // the last boot's console says its scenario began: not this one's
  std::error_code ec;
  fs::remove(work / "console.log", ec);
  fs::remove(work / "qemu.pid", ec);
  pid_t pid = StartProgram(BootCommand(work, plan), work / "boot.out");
  if (pid < 0) return result;
  // the moment counts from the start of the steps, not of the boot
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (ReadHostFile(work / "console.log").find("box: scenario starts") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool started = ReadHostFile(work / "console.log").find("box: scenario starts") != std::string::npos;
  if (started) std::this_thread::sleep_for(std::chrono::duration<double>(cutAfter));
  std::string qemu = ReadHostFile(work / "qemu.pid");
  if (!qemu.empty() && waitpid(pid, nullptr, WNOHANG) == 0) result.cut = kill(std::atoi(qemu.c_str()), SIGKILL) == 0;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!started) {
    result.boxFault = BoxFault(ReadHostFile(work / "console.log"));
    if (result.boxFault.empty()) result.boxFault = "its scenario did not begin within 120 s";
  }
  return result;
}

std::string BoxFault(const std::string &console)
{
  // (a disk that does not mount after a cut is not among them: that is
  // what a receiver would meet)
  static const char *const kSigns[] = {"has not responded in",
                                       "NETDEV WATCHDOG",
                                       "blocked for more than",
                                       "box: cannot mount the host's io share",
                                       "box: cannot mount the NAS share",
                                       "box: no internal disk",
                                       "box: no external drive"};
  for (const char *sign : kSigns)
    if (size_t at = console.find(sign); at != std::string::npos) {
      const size_t from = console.rfind('\n', at), to = console.find('\n', at);
      return console.substr(from == std::string::npos ? 0 : from + 1,
                            to == std::string::npos ? std::string::npos : to - from - 1);
    }
  return "";
}

void BoxTest::ExpectOwnersPlugins(const BoxBoot &boot) const
{
  std::map<std::string, std::string> archive, loaded;
  auto read = [](const std::string &text, std::map<std::string, std::string> *sums) {
    std::istringstream in(text);
    std::string sum, name;
    while (in >> sum >> name) sums->emplace(fs::path(name).filename().string(), sum);
  };
  read(ReadHostFile(BoxDir() / "initramfs/box/release/SHA256SUMS"), &archive);
  read(ReadHostFile(work_.path / "io/out/taps.sha256"), &loaded);
  for (const char *tap : {"Ferrox.tap", "FerroxSetup.tap"}) {
    ASSERT_TRUE(archive.count(tap)) << tap << " is not in the archive's SHA256SUMS";
    EXPECT_EQ(archive[tap], loaded[tap]) << tap << " in the box is not the archive's file";
  }
}
