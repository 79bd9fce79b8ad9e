// ScenarioFixture.cpp -- receiver roots for whole runs of the copy service,
// and the service log read back.
#include "ScenarioFixture.h"

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

time_t LocalTime(int year, int month, int day, int hour, int minute)
{
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

void ScenarioTest::SetUp()
{
  root = dir_.path / "root";
  share = dir_.path / "nas";
  fs::create_directories(Host(kFerroxFolder));
  fs::create_directories(Host(TAPFS_ROOT DATA_FILES_DIR));
  fs::create_directories(share);
  WriteFile(TAPFS_ROOT SETTINGS_DIR "/" TKLIB_LOG_NAME, "");
}

void ScenarioTest::TearDown() {}

fs::path ScenarioTest::Host(std::string_view receiverPath) const
{
  std::string_view rel = receiverPath;
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  return root / fs::path(std::string(rel));
}

void ScenarioTest::WriteFile(std::string_view receiverPath, std::string_view bytes, time_t mtime)
{
  fs::path p = Host(receiverPath);
  fs::create_directories(p.parent_path());
  {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << p;
  }
  if (mtime != 0) {
    struct utimbuf times = {mtime, mtime};
    utime(p.c_str(), &times);
  }
}

std::string ScenarioTest::ReadFile(std::string_view receiverPath) const { return ReadHostFile(Host(receiverPath)); }

bool ScenarioTest::Exists(std::string_view receiverPath) const
{
  std::error_code ec;
  return fs::exists(Host(receiverPath), ec);
}

void ScenarioTest::WriteSettings(std::initializer_list<std::string> lines)
{
  std::string text;
  for (const std::string &line : lines) text += line + "\r\n";
  WriteFile(std::string(kFerroxFolder) + "/" SETTINGS_FILE, text);
}

void ScenarioTest::WriteShareSettings(std::initializer_list<std::string> extra)
{
  std::vector<std::string> lines = {"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share",
                                    "MountedDirDest=1", "NASBootTime=30"};
  // a key given again replaces the usual line: the first one found counts
  for (const std::string &e : extra) {
    std::string key = e.substr(0, e.find('=') + 1);
    std::erase_if(lines, [&](const std::string &l) { return l.rfind(key, 0) == 0; });
    lines.push_back(e);
  }
  std::string text;
  for (const std::string &line : lines) text += line + "\r\n";
  WriteFile(std::string(kFerroxFolder) + "/" SETTINGS_FILE, text);
}

void ScenarioTest::WriteJob(const std::string &name, const std::string &fileName, const std::string &sdir,
                            const std::string &ddir, int com)
{
  WriteFile(
      std::string(kFerroxFolder) + "/" JOB_FOLDER "/" + name,
      "FileName=" + fileName + "\r\nSDIR=" + sdir + "\r\nDDIR=" + ddir + "\r\nCoM=" + std::to_string(com) + "\r\n");
}

void ScenarioTest::WriteRecording(std::string_view mainPath, size_t size, unsigned seed, time_t mtime, bool inf,
                                  bool nav)
{
  std::string path(mainPath);
  WriteFile(path, Pattern(size, seed), mtime);
  if (inf) {
    std::string infBytes = Pattern(376, seed + 1000);
    infBytes[16] = 0;  // free-to-air
    WriteFile(path + ".inf", infBytes, mtime);
  }
  if (nav) WriteFile(path + ".nav", Pattern(4096, seed + 2000), mtime);
}

void ScenarioTest::WriteStandInBehaviour(dword id, std::initializer_list<std::string> lines)
{
  char name[32];
  std::snprintf(name, sizeof name, "%08X.ini", static_cast<unsigned>(id));
  std::string text;
  for (const std::string &line : lines) text += line + "\r\n";
  WriteFile(std::string(TAPFS_ROOT SETTINGS_DIR "/StandIns/") + name, text);
}

std::string ScenarioTest::InstallTap(const std::string &tapName, const std::string &asName)
{
  std::string receiverPath = TAPFS_ROOT PROGRAM_FILES_DIR "/" + (asName.empty() ? tapName : asName);
  fs::copy_file(TapFile(tapName), Host(receiverPath), fs::copy_options::overwrite_existing);
  return receiverPath;
}

void ScenarioTest::InstallSetupStandIn() { InstallTap("SetupStandIn.tap", "FerroxSetup.tap"); }

RunResult ScenarioTest::Run(std::vector<std::string> extra, double shareAt)
{
  std::vector<std::string> args = {"--root", root.string(), "--console", "none", "--quiet", "--seconds", "3000"};
  if (shareAt >= 0) {
    std::ostringstream mount;
    mount << kNASShare << "=" << share.string() << "@" << shareAt;
    args.push_back("--mount");
    args.push_back(mount.str());
  }
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("--tap");
  args.push_back(TapFile("Ferrox.tap").string());
  RunResult r = RunReceiver(args);
  EXPECT_EQ(r.err.find("receiver: error:"), std::string::npos) << "a plug-in error in the run:\n" << r.err;
  return r;
}

std::vector<std::string> ScenarioTest::LogLines() const
{
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(sim::kServiceLog));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "YYYY-MM-DD HH:MM:SS " is 20 characters
    if (line.size() >= 20 && line[4] == '-' && line[13] == ':' && line[19] == ' ') line.erase(0, 20);
    lines.push_back(line);
  }
  return lines;
}

std::string ScenarioTest::Log() const
{
  std::string all;
  for (const std::string &line : LogLines()) all += line + "\n";
  return all;
}

bool ScenarioTest::LogHas(std::string_view line) const { return LogCount(line) > 0; }

size_t ScenarioTest::LogCount(std::string_view line) const
{
  std::vector<std::string> lines = LogLines();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), std::string(line)));
}

::testing::AssertionResult ScenarioTest::LogInOrder(std::initializer_list<std::string> wanted) const
{
  std::vector<std::string> lines = LogLines();
  auto at = lines.begin();
  for (const std::string &w : wanted) {
    at = std::find(at, lines.end(), w);
    if (at == lines.end())
      return ::testing::AssertionFailure() << "line \"" << w << "\" not found in order in the log:\n" << Log();
    ++at;
  }
  return ::testing::AssertionSuccess();
}

std::string ScenarioTest::ToolkitLog() const { return ReadFile(TAPFS_ROOT SETTINGS_DIR "/" TKLIB_LOG_NAME); }

// Seconds of the day of the stamp of the first raw line that holds text.
static int StampSeconds(const std::string &raw, std::string_view text)
{
  std::istringstream in(raw);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > 20 && line.compare(20, text.size(), text) == 0) {
      int h = 0, m = 0, s = 0;
      if (std::sscanf(line.c_str() + 11, "%d:%d:%d", &h, &m, &s) == 3) return h * 3600 + m * 60 + s;
    }
  }
  return -1;
}

int ScenarioTest::SecondsBetween(std::string_view first, std::string_view second) const
{
  std::string raw = ReadFile(sim::kServiceLog);
  int a = StampSeconds(raw, first), b = StampSeconds(raw, second);
  return a < 0 || b < 0 ? -1 : b - a;
}

std::vector<std::string> ScenarioTest::Tree(const fs::path &folder) { return HostTree(folder); }

// The fourteen settings a file gives the copy service, by key: a missing
// key counts with the value it is loaded as. A file without the user's note
// line has lost some of its text: no settings at all.
std::map<std::string, std::string> SettingsAsLoaded(const std::string &text)
{
  // clang-format off
  static const std::map<std::string, std::string> missing = {
      {"CopySpeed", "4"},   {"MountType", "0"},        {"MoveDir", kMoveToNAS},
      {"DestDir", kNASShare},      {"Move", "0"},           {"NASBootTime", "90"},
      {"SpecChar", "0"},    {"DelDEC", "1"},           {"MountedDirSource", "0"}, {"MountedDirDest", "0"},
      {"StopMountTAP", "0"}, {"SetTSLink", "0"},       {"LogLenth", "0"},       {"CopyAllFiles", "0"}};
  // clang-format on
  std::map<std::string, std::string> found;
  if (text.find("; my settings, with a note\r\n") == std::string::npos) return found;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    size_t eq = line.find('=');
    if (eq != std::string::npos && missing.count(line.substr(0, eq)) && !found.count(line.substr(0, eq)))
      found[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  for (const auto &[key, value] : missing) found.emplace(key, value);
  return found;
}
