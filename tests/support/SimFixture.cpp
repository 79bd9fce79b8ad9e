// SimFixture.cpp -- the shared test fixture, temporary folders, plug-in files
// and runs of the receiver program.
//
// The test executables act as a plug-in of their own: they carry a plug-in
// id (__tap_ud__) like every .tap does. RunReceiver starts the program
// through the emulator in a cross build, with its output in temporary files.
// Every sandbox is removed after its test, mounts inside it included.
#include "SimFixture.h"

#include <cstdlib>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tap_header.h"

extern "C" const dword __tap_ud__ = 0x8E0A4F00;
extern "C" const char __tap_program_name[64] = "Ferrox Test";

extern char **environ;

static fs::path MakeTempDir()
{
  std::string pattern = (fs::temp_directory_path() / "ferrox-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary folder";
  return pattern;
}

TempDir::TempDir() : path(MakeTempDir()) {}

TempDir::~TempDir()
{
  std::error_code ec;
  fs::remove_all(path, ec);
}

void SimTest::SetUp()
{
  sandbox = MakeTempDir();
  sim::Config config;
  config.root = sandbox / "root";
  config.openTerminals = {0};
  Configure(config);
  receiver_ = std::make_unique<sim::Receiver>(config);
  hostSlot = receiver_->AttachHostTask("/mnt/hd");
}

// A file system a test mounted inside its sandbox (a small tmpfs, a loop
// image) is detached before the sandbox goes: remove_all cannot take a busy
// mount point and would leave it behind in the temporary folder. Deepest
// mounts first.
static void DetachMountsBelow(const fs::path &dir)
{
  std::error_code ec;
  const std::string prefix = fs::weakly_canonical(dir, ec).string() + "/";
  std::ifstream in("/proc/self/mountinfo");
  std::vector<std::string> points;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if ((fields >> id >> parent >> device >> root >> point) && point.rfind(prefix, 0) == 0) points.push_back(point);
  }
  std::sort(points.rbegin(), points.rend());
  for (const std::string &point : points) umount2(point.c_str(), MNT_DETACH);
}

void SimTest::TearDown()
{
  // a plug-in error fails the test unless the test took it as expected
  if (receiver_) {
    EXPECT_EQ(receiver_->ErrorCount(), 0) << "plug-in errors in this test (see the error lines)";
  }
  receiver_.reset();
  DetachMountsBelow(sandbox);
  std::error_code ec;
  fs::remove_all(sandbox, ec);
}

fs::path SimTest::Host(std::string_view receiverPath) const { return receiver_->HostPath(receiverPath); }

void SimTest::WriteFile(std::string_view receiverPath, std::string_view bytes)
{
  fs::path p = Host(receiverPath);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << p;
}

std::string SimTest::ReadFile(std::string_view receiverPath) const { return ReadHostFile(Host(receiverPath)); }

bool SimTest::Exists(std::string_view receiverPath) const
{
  std::error_code ec;
  return fs::exists(Host(receiverPath), ec);
}

void SimTest::MakeDir(std::string_view receiverPath) { fs::create_directories(Host(receiverPath)); }

std::string SimTest::Console() const { return receiver_->TerminalOutput(0); }

fs::path TapFile(const std::string &name) { return fs::path(FERROX_TAP_DIR) / name; }

fs::path ReceiverTapFile(const std::string &name)
{
  // the release check points the plug-in file checks at an unpacked archive
  if (const char *unpacked = std::getenv("FERROX_RECEIVER_TAPS")) {
    if (fs::exists(fs::path(unpacked) / name) || std::string(FERROX_RECEIVER_TAP_DIR).empty())
      return fs::path(unpacked) / name;
  }
  if (std::string(FERROX_RECEIVER_TAP_DIR).empty()) return {};
  fs::path product = fs::path(FERROX_RECEIVER_TAP_DIR) / name;
  if (fs::exists(product)) return product;
  return fs::path(FERROX_RECEIVER_STANDIN_DIR) / name;
}

std::string ReadHostFile(const fs::path &p)
{
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The command line: the emulator's words (cross build; separated by blanks),
// the program, the arguments.
std::vector<std::string> ReceiverCommandLine(const std::vector<std::string> &args)
{
  return ReceiverCommandLineAt(fs::path(FERROX_BIN_DIR) / "receiver", args);
}

std::vector<std::string> ReceiverCommandLineAt(const fs::path &program, const std::vector<std::string> &args)
{
  std::vector<std::string> words;
  std::stringstream emulator(FERROX_EMULATOR);
  std::string word;
  while (std::getline(emulator, word, ' '))
    if (!word.empty()) words.push_back(word);
  words.push_back(program.string());
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

std::vector<std::string> HostTree(const fs::path &folder)
{
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

RunResult RunReceiver(const std::vector<std::string> &args)
{
  return RunReceiverAt(fs::path(FERROX_BIN_DIR) / "receiver", args);
}

RunResult RunReceiverAt(const fs::path &program, const std::vector<std::string> &args)
{
  TempDir out;
  const fs::path outFile = out.path / "stdout", errFile = out.path / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> words = ReceiverCommandLineAt(program, args);
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  RunResult result;
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    result.err = "cannot start " + words[0];
    return result;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadHostFile(outFile);
  result.err = ReadHostFile(errFile);
  return result;
}

std::string Pattern(size_t size, unsigned seed)
{
  std::string s(size, '\0');
  uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

std::string CaseName(std::string_view what)
{
  std::string name;
  for (char c : what) {
    bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (word) name += c;
    else if (!name.empty() && name.back() != '_') name += '_';
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "case" : name;
}

int TrialCount(int n, int least)
{
  const char *share = std::getenv("FERROX_TRIAL_SHARE");
  const int percent = share && *share ? std::atoi(share) : 100;
  if (percent <= 0 || percent >= 100) return n;
  return std::max(least, n * percent / 100);
}
