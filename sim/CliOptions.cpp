// CliOptions.cpp -- the `receiver` program's command line: one table of
// its options, which the parser, the usage text, the refusal of a bad value
// and the guess at a mistyped name all walk, and the checks of the whole
// command line once it is read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "Cli.h"
#include "FirmwareState.h"
#include "HostFs.h"
#include "SimClock.h"
#include "TapFlavour.h"
#ifdef FERROX_WEB_VIEW
#include "WebView.h"
#endif

namespace sim {

namespace fs = std::filesystem;

namespace {

// A finite number of seconds, 0 or more ("inf" and "nan" are no run time).
bool ParseNumber(const std::string &text, double *value)
{
  char *end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(*value) && *value >= 0;
}

// The run time of --seconds must fit the receiver's 32-bit tick counter.
bool ParseRunTime(const std::string &text, double *value)
{
  return ParseNumber(text, value) && *value <= kMaxRunSeconds;
}

bool ParseUnsigned(const std::string &text, uint64_t *value)
{
  char *end = nullptr;
  if (text.empty() || text[0] == '-') return false;
  *value = std::strtoull(text.c_str(), &end, 0);
  return *end == '\0';
}

bool ParseMount(const std::string &v, MountConfig *m)
{
  size_t eq = v.find('=');
  if (eq == std::string::npos || eq == 0 || v[0] != '/') return false;
  m->receiverPath = v.substr(0, eq);
  std::string host = v.substr(eq + 1);
  size_t at = host.rfind('@');
  if (at != std::string::npos) {
    std::string when = host.substr(at + 1);
    host = host.substr(0, at);
    size_t dash = when.find('-');
    if (!ParseNumber(when.substr(0, dash), &m->appearAt)) return false;
    if (dash != std::string::npos && !ParseNumber(when.substr(dash + 1), &m->vanishAt)) return false;
  }
  if (host.empty()) return false;
  m->hostPath = fs::absolute(host);
  return true;
}

// A calendar date the receiver's MJD can carry (1858-11-17 .. 2038-04-22);
// "2015-02-31" is refused rather than quietly becoming a day in March.
bool ParseDate(const std::string &v, Config *c)
{
  char rest = 0;
  uint16_t mjd = 0;
  return std::sscanf(v.c_str(), "%d-%d-%d%c", &c->year, &c->month, &c->day, &rest) == 3 &&
         MakeMjd(c->year, c->month, c->day, &mjd);
}

bool ParseTime(const std::string &v, Config *c)
{
  c->second = 0;
  char rest = 0;
  int n = std::sscanf(v.c_str(), "%d:%d:%d%c", &c->hour, &c->minute, &c->second, &rest);
  if (n == 2 && v.find_first_not_of("0123456789:") != std::string::npos) return false;
  return (n == 2 || n == 3) && c->hour >= 0 && c->hour < 24 && c->minute >= 0 && c->minute < 60 && c->second >= 0 &&
         c->second < 60;
}

bool ParseTerminals(const std::string &v, Config *c)
{
  c->openTerminals.clear();
  if (v == "none") return true;
  std::stringstream in(v);
  std::string item;
  while (std::getline(in, item, ',')) {
    uint64_t n;
    if (!ParseUnsigned(item, &n) || n > 19) return false;
    c->openTerminals.push_back(static_cast<int>(n));
  }
  return !c->openTerminals.empty();
}

bool ParseKeyAt(const std::string &v, std::vector<KeyPress> *keys)
{
  size_t at = v.find('@');
  KeyPress k{0, 0};
  if (!ParseKey(v.substr(0, at), &k.key)) return false;
  if (at != std::string::npos && !ParseNumber(v.substr(at + 1), &k.at)) return false;
  keys->push_back(k);
  return true;
}

bool ParseKeysFile(const std::string &file, std::vector<KeyPress> *keys, std::string *error)
{
  std::ifstream in(file);
  if (!in) {
    *error = "cannot read the keys file " + file;
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    line = line.substr(0, line.find('#'));
    std::stringstream words(line);
    std::string when, key;
    if (!(words >> when)) continue;
    KeyPress k{0, 0};
    if (!(words >> key) || !ParseNumber(when, &k.at) || !ParseKey(key, &k.key)) {
      *error = file + ":" + std::to_string(n) + ": expected \"SECONDS KEY\"";
      return false;
    }
    keys->push_back(k);
  }
  return true;
}

// --share-silent RPATH@AT+FOR: RPATH a --mount given before it.
bool ParseShareSilent(const std::string &v, Config *c)
{
  size_t at = v.rfind('@'), plus = v.rfind('+');
  auto m = std::find_if(c->mounts.begin(), c->mounts.end(), [&](const MountConfig &g) {
    return at != std::string::npos && g.receiverPath == v.substr(0, at);
  });
  return m != c->mounts.end() && plus != std::string::npos && plus > at &&
         ParseNumber(v.substr(at + 1, plus - at - 1), &m->silentAt) && ParseNumber(v.substr(plus + 1), &m->silentFor);
}

bool ParseDword(const std::string &v, dword *value)
{
  uint64_t n = 0;
  bool ok = ParseUnsigned(v, &n) && n <= 0xFFFFFFFFu;
  *value = static_cast<dword>(n);
  return ok;
}

bool ParseMemLimit(const std::string &v, Config *c)
{
  size_t comma = v.find(',');
  uint64_t total = 0, block = 0;
  bool ok = ParseUnsigned(v.substr(0, comma), &total) &&
            (comma == std::string::npos || ParseUnsigned(v.substr(comma + 1), &block));
  c->memTotalLimit = total;
  c->memBlockLimit = block;
  return ok;
}

bool ParseWriteFault(const std::string &v, RunOptions *o)
{
  size_t eq = v.rfind('=');
  uint64_t n = 0;
  bool ok = eq != std::string::npos && ParseUnsigned(v.substr(eq + 1), &n);
  if (ok) o->writeFaults.push_back({v.substr(0, eq), n});
  return ok;
}

bool ParsePlay(const std::string &v, RunOptions *o)
{
  size_t at = v.rfind('@');
  uint64_t n = 0;
  o->playPath = v.substr(0, at);
  if (at == std::string::npos) return true;
  bool ok = ParseUnsigned(v.substr(at + 1), &n) && n <= 255;
  o->playMode = static_cast<int>(n);
  return ok;
}

bool ParseRecord(const std::string &v, RunOptions *o)
{
  size_t eq = v.find('=');
  uint64_t n = 0;
  bool ok = eq != std::string::npos && ParseUnsigned(v.substr(0, eq), &n) && n < FW_REC_SLOT_TABLE;
  if (ok) o->recordings.push_back({static_cast<int>(n), v.substr(eq + 1)});
  return ok;
}

bool ParseWeb(const std::string &v, RunOptions *o, std::string *error)
{
#ifdef FERROX_WEB_VIEW
  WebAddress at;
  o->web = v;
  return ParseWebAddress(v, &at);
#else
  (void)v, (void)o;
  *error = "this receiver program was built without the web view (no cpp-httplib)";
  return false;
#endif
}

// One option: its name, the form of its value (null for an option without
// one), its lines in the usage text (the first option of a group names
// the group), the form a refused value is told to take, and what it does
// with its value (false for a bad one; *error set where it says more).
struct OptionRow {
  const char *group;
  const char *name;
  const char *value;
  const char *expected;
  const char *help;
  bool (*apply)(const std::string &value, RunOptions *o, std::string *error);
};

const OptionRow kOptions[] =
    {
        {"Receiver", "--root", "DIR", nullptr,
         "host folder that is the receiver's \"/\" (created;\n"
         "/mnt/hd is the internal disk inside it)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->config.root = fs::absolute(v);
           return true;
         }},
        {nullptr, "--tap", "FILE", nullptr,
         "a plug-in file to install and load (like a\n"
         "positional PLUGIN.tap; repeatable)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->hostTaps.push_back(v);
           return true;
         }},
        {nullptr, "--load", "PATH", nullptr,
         "load a plug-in file already in the receiver\n"
         "(\"/mnt/hd/ProgramFiles/X.tap\"; repeatable)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->receiverTaps.push_back(v);
           return true;
         }},
        {nullptr, "--mount", "RPATH=HOSTDIR[@APPEAR[-VANISH]]",
         "RPATH=HOSTDIR[@APPEAR[-VANISH]], like /mnt/hd/DataFiles/NAS-Share=/srv/nas@5",
         "serve receiver path RPATH from host folder\n"
         "HOSTDIR; it appears APPEAR seconds into the run\n"
         "and vanishes at VANISH (repeatable)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           MountConfig m;
           if (!ParseMount(v, &m)) return false;
           o->config.mounts.push_back(m);
           return true;
         }},
        {nullptr, "--share-silent", "RPATH@AT+FOR", "RPATH@AT+FOR in seconds, RPATH a --mount given before it",
         "the --mount at RPATH stops answering AT seconds\n"
         "into the run for FOR seconds: every call on it\n"
         "waits meanwhile, as for a NAS switched off",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseShareSilent(v, &o->config); }},
        {nullptr, "--system-id", "N", nullptr, "TAP_GetSystemId (default 22010)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseDword(v, &o->config.systemId); }},
        {nullptr, "--firmware-version", "N", nullptr, "TAP_GetVersion (default 0x1A07)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseDword(v, &o->config.firmwareVersion);
         }},
        {nullptr, "--utf8-firmware", nullptr, nullptr, "a firmware that keeps file names in UTF-8",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->config.utf8Firmware = true;
           return true;
         }},
        {nullptr, "--missing-symbol", "NAME", nullptr, "the firmware lacks symbol NAME (repeatable)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->config.missingSymbols.push_back(v);
           return true;
         }},
        {nullptr, "--firmware-module", "M", nullptr,
         "firmware functions module: default, noexec (no\n"
         "program starter) or a file path",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->config.firmwareModule = v;
           return true;
         }},
        {nullptr, "--mem-limit", "TOTAL[,BLOCK]", "TOTAL[,BLOCK] in bytes",
         "TAP_MemAlloc limits in bytes (total, largest block)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseMemLimit(v, &o->config); }},
        {nullptr, "--fail-writes", "RPATH=BYTES", "RPATH=BYTES",
         "writes to the file (or below the folder) RPATH\n"
         "fail once BYTES were written (disk full)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseWriteFault(v, o); }},
        {nullptr, "--play", "RPATH[@MODE]", "RPATH[@MODE]", "a recording being played back (play mode, 1)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParsePlay(v, o); }},
        {nullptr, "--record", "SLOT=RPATH", "SLOT=RPATH", "a recording being made in recording slot SLOT",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseRecord(v, o); }},
        {nullptr, "--power-cut-at", "SECONDS", nullptr,
         "switch the receiver off then: the run stops dead,\n"
         "and of what was not synced the files keep what a\n"
         "power cut may leave (see README); exit status 3",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseNumber(v, &o->config.powerCutAt) && o->config.powerCutAt >= 0;
         }},
        {nullptr, "--power-cut-at-change", "N", nullptr,
         "the same just before the run's Nth change to a\n"
         "file or folder",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseUnsigned(v, &o->config.powerCutAtChange) && o->config.powerCutAtChange > 0;
         }},
        {nullptr, "--seed", "N", nullptr, "what a power cut keeps (default: random; printed)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->seedGiven = true;
           return ParseUnsigned(v, &o->config.powerSeed);
         }},
        {"Time", "--clock", "virtual|real", "virtual or real",
         "virtual (default): every firmware round is one\n"
         "10-ms tick and nothing waits; real: wall clock",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->config.clock = v == "real" ? ClockMode::Real : ClockMode::Virtual;
           o->clockGiven = true;
           return v == "virtual" || v == "real";
         }},
        {nullptr, "--date", "YYYY-MM-DD", "YYYY-MM-DD",
         "receiver date at start (default 2015-12-20;\n"
         "1858-11-17 to 2038-04-22, the range of the\n"
         "receiver's 16-bit Modified Julian Date)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseDate(v, &o->config); }},
        {nullptr, "--time", "HH:MM[:SS]", "HH:MM[:SS]", "receiver time at start (default 21:05:09)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseTime(v, &o->config); }},
        {nullptr, "--uptime", "SECONDS", nullptr, "receiver uptime at start (default 300)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseNumber(v, &o->config.uptimeAtStart);
         }},
        {"Input and end", "--key", "KEY[@SECONDS]",
         "KEY[@SECONDS], KEY a key name (Ok, Exit, Up, Red, 7, ...) or a key code like 0x1001E",
         "press KEY at SECONDS into the run (default 0);\n"
         "KEY is Ok, Exit, Up, Down, Left, Right, Red,\n"
         "Green, Yellow, Blue, PageUp, PageDown, PageUp2,\n"
         "PageDown2, Menu, a digit 0 to 9 or a key code\n"
         "(0x1001E); repeatable",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseKeyAt(v, &o->keys); }},
        {nullptr, "--keys-file", "FILE", nullptr,
         "keys from FILE, one \"SECONDS KEY\" per line,\n"
         "\"#\" starts a comment",
         [](const std::string &v, RunOptions *o, std::string *error) -> bool {
           return ParseKeysFile(v, &o->keys, error);
         }},
        {nullptr, "--stop-event-at", "SECONDS", nullptr, "send the stop event to every plug-in then",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           double d = 0;
           bool ok = ParseNumber(v, &d);
           o->stopEvents.push_back(d);
           return ok;
         }},
        {nullptr, "--status-every", "SECONDS", nullptr,
         "ask the copy service for its status at this\n"
         "interval, as another plug-in would, and print\n"
         "each reply (file, size, percent, MB/min, entry\n"
         "n of m, state)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseNumber(v, &o->statusEvery) && o->statusEvery > 0;
         }},
        {nullptr, "--warn-event-ms", "N", nullptr,
         "a line for every event handler call that takes\n"
         "longer than N ms of wall time (the receiver's\n"
         "picture and remote stall meanwhile); the longest\n"
         "call of each plug-in is printed at the end anyway",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           return ParseNumber(v, &o->config.warnEventMs) && o->config.warnEventMs > 0;
         }},
        {nullptr, "--trace-keys", nullptr, nullptr,
         "print what each plug-in's handler returned for\n"
         "every key pressed",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->traceKeys = true;
           return true;
         }},
        {nullptr, "--until", "unloaded|time", "unloaded or time",
         "end when every plug-in has unloaded (default),\n"
         "or after --seconds",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->untilUnloaded = v == "unloaded";
           return v == "unloaded" || v == "time";
         }},
        {nullptr, "--seconds", "N", nullptr,
         "run time for --until time; for --until unloaded\n"
         "the time after which the run fails (default 600;\n"
         "at most 42949672, what the 10-ms tick counter\n"
         "holds)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->secondsGiven = true;
           return ParseRunTime(v, &o->seconds);
         }},
        {"Screen", "--screenshots", "DIR", nullptr,
         "write a PNG of the TV screen (menus over a plain\n"
         "picture) into DIR at the end of every event\n"
         "handler call that changed it, named by the tick\n"
         "(screen-0000001234.png; names sort in time order)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->config.screenshotDir = v;
           return true;
         }},
        {nullptr, "--screenshots-every-sync", nullptr, nullptr,
         "with --screenshots: a PNG after every sync that\n"
         "changed the screen, half-drawn menus included",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->config.screenshotsEverySync = true;
           return true;
         }},
        {nullptr, "--screenshot-at", "SECONDS", nullptr,
         "one PNG at that moment (into the --screenshots\n"
         "folder, else beside the root); repeatable",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           double d = 0;
           bool ok = ParseNumber(v, &d) && d >= 0;
           o->screenshotsAt.push_back(d);
           return ok;
         }},
        {nullptr, "--fonts", "DIR|none", nullptr,
         "copy the .ufnt fonts of DIR into the receiver's\n"
         "/mnt/hd/ProgramFiles/Settings/Fonts; by default\n"
         "a root without that folder gets the standard\n"
         "fonts of this build (Calibri_10 ... Calibri_20B)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->fonts = v;
           return true;
         }},
        {"Console", "--terminals", "LIST|none", "N[,N...], numbers 0 to 19",
         "pseudo-terminals that open, e.g. 0,2 (default 0)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool { return ParseTerminals(v, &o->config); }},
        {nullptr, "--console", "FILE|-|none", nullptr, "where terminal output goes (default -: stdout)",
         [](const std::string &v, RunOptions *o, std::string *) -> bool {
           o->console = v;
           return true;
         }},
        {nullptr, "--console-raw", nullptr, nullptr,
         "terminal output as the receiver's ISO 8859-1\n"
         "bytes (default: shown as UTF-8)",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->config.consoleRaw = true;
           return true;
         }},
        {nullptr, "--quiet", nullptr, nullptr, "no lifecycle lines",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->quiet = true;
           return true;
         }},
        {nullptr, "--lenient", nullptr, nullptr,
         "plug-in errors (a block freed twice, a handle\n"
         "or stream never opened, TAP_Exit outside an\n"
         "event) are warnings; by default they fail the run",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->config.lenient = true;
           return true;
         }},
        {nullptr, "--web", "[ADDR:]PORT", nullptr,
         "the virtual receiver in a web browser: serves\n"
         "the live screen, a remote control, the console,\n"
         "the service log, the copy service's status and\n"
         "buttons to start plug-ins, send the stop event\n"
         "and mount or unmount the --mount folders, on\n"
         "127.0.0.1 unless ADDR is given (PORT 0: any\n"
         "free port); runs on the real clock until Ctrl-C\n"
         "(or for --seconds); plug-ins are optional",
         [](const std::string &v, RunOptions *o, std::string *error) -> bool { return ParseWeb(v, o, error); }},
        {nullptr, "--version", nullptr, nullptr, "the simulator's version",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->version = true;
           return true;
         }},
        {nullptr, "--help", nullptr, nullptr, "this text",
         [](const std::string &, RunOptions *o, std::string *) -> bool {
           o->help = true;
           return true;
         }},
};

const OptionRow *FindOption(const std::string &name)
{
  for (const OptionRow &row : kOptions)
    if (name == row.name) return &row;
  return nullptr;
}

// Edits (insert, delete, change) that turn a into b.
size_t EditDistance(const std::string &a, const std::string &b)
{
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = j;
  for (size_t i = 1; i <= a.size(); i++) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); j++) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The line for an unknown option, with the nearest known one when it is close.
std::string UnknownOption(const std::string &opt)
{
  const char *best = nullptr;
  size_t bestDistance = 3;
  for (const OptionRow &known : kOptions) {
    size_t d = EditDistance(opt, known.name);
    if (d < bestDistance) best = known.name, bestDistance = d;
  }
  return "unknown option " + opt + (best == nullptr ? "" : std::string("; did you mean ") + best + "?") +
         " (see receiver --help)";
}

// One option with its value; false with a message for a bad value.
bool ApplyOption(const OptionRow &row, const std::string &v, RunOptions *o, std::string *error)
{
  error->clear();
  if (row.apply(v, o, error)) return true;
  if (error->empty())
    *error = std::string("bad value for ") + row.name + ": \"" + v + "\"" +
             (row.expected != nullptr ? std::string("; expected ") + row.expected : "") + " (see receiver --help)";
  return false;
}

// Does the file start as an ELF shared object does? (The loader says more
// about the rest.)
bool LooksLikePlugin(const fs::path &file)
{
  char head[18] = {};
  std::ifstream in(file, std::ios::binary);
  in.read(head, sizeof head);
  return in.gcount() == sizeof head &&
         std::memcmp(head,
                     "\x7f"
                     "ELF",
                     4) == 0 &&
         head[16] == 3 /* ET_DYN */;
}

// A plug-in file that cannot run in this receiver: one built for another
// CPU, or the receiver flavour, whose file calls bypass the receiver root
// and reach this machine's own /mnt/hd (only a machine laid out like the
// receiver, run with --root /, gives them what they expect). False with
// what to do instead.
bool FitsThisReceiver(const fs::path &file, const fs::path &root, const std::string &what, std::string *error)
{
  TapFileFacts f = ReadTapFacts(file);
  if (f.elf && !f.thisCpu) {
    *error = what + " is built for the " + f.cpu +
             " CPU, not for this one: run it in the virtual receiver (make box), or take the plug-in file of "
             "this machine's own build";
    return false;
  }
  if (f.flavour == TapFlavour::Receiver && root.lexically_normal() != "/") {
    *error = what +
             " is the receiver flavour of a plug-in: its file calls go to this machine's own files, not "
             "into the receiver root " +
             root.string() +
             ". Run it with --root / on a machine laid out like the receiver (the virtual receiver: make box), "
             "or load the simulator flavour (tap-sim/ of the cross build)";
    return false;
  }
  return true;
}

// The receiver root: given, and a folder where it exists.
int CheckRoot(const RunOptions *o, std::string *error)
{
  if (o->config.root.empty()) {
    *error = "no receiver root folder: give --root DIR (see receiver --help)";
    return kExitCommandLine;
  }
  std::error_code ec;
  if (fs::exists(o->config.root, ec) && !fs::is_directory(o->config.root, ec)) {
    *error = "the receiver root " + o->config.root.string() + " is a file, not a folder: give a folder for --root";
    return kExitCommandLine;
  }
  return kExitAsAsked;
}

// The plug-in files: there, plug-ins, and ones this receiver can run. A
// plug-in that cannot run is refused before anything is made or copied.
int CheckPluginFiles(const RunOptions *o, std::string *error)
{
  std::error_code ec;
  for (const std::string &tap : o->hostTaps) {
    if (!fs::is_regular_file(tap, ec)) {
      *error = "plug-in file not found: " + tap;
      return kExitCommandLine;
    }
    if (!LooksLikePlugin(tap)) {
      *error = "not a plug-in file (no ELF shared object): " + tap;
      return kExitCommandLine;
    }
    if (!FitsThisReceiver(tap, o->config.root, tap, error)) return kExitCommandLine;
  }
  for (const std::string &tap : o->receiverTaps) {
    // in the root, or in the host folder of a mount that serves the path
    const std::string path = NormalizeReceiverPath(tap);
    fs::path host = o->config.root / path.substr(1);
    size_t served = 0;
    for (const MountConfig &m : o->config.mounts)
      if (PathHasPrefix(path, m.receiverPath) && m.receiverPath.size() > served) {
        served = m.receiverPath.size();
        host = m.hostPath / path.substr(std::min(path.size(), served + 1));
      }
    if (!fs::is_regular_file(host, ec)) {
      *error = "--load " + tap + ": no such plug-in file in the receiver root " + o->config.root.string();
      return kExitCommandLine;
    }
    if (!LooksLikePlugin(host)) {
      *error = "--load " + tap + ": not a plug-in file (no ELF shared object)";
      return kExitCommandLine;
    }
    if (!FitsThisReceiver(host, o->config.root, "--load " + tap, error)) return kExitCommandLine;
  }
  return kExitAsAsked;
}

// The checks of the whole command line, once every option is read; 0 or 2
// with a message.
int CheckOptions(RunOptions *o, std::string *error)
{
  if (int status = CheckRoot(o, error)) return status;
  if (int status = CheckPluginFiles(o, error)) return status;
  // a receiver-flavour plug-in asks libc's loader, which knows nothing of
  // the symbols the simulator hides
  if (!o->config.missingSymbols.empty())
    for (const std::string &tap : o->hostTaps)
      if (ReadTapFacts(tap).flavour == TapFlavour::Receiver)
        std::cerr << "receiver: warning: --missing-symbol does not reach " << tap
                  << ", a receiver-flavour plug-in: it finds the firmware's symbols through libc\n";
  if (!o->web.empty()) {
    // the page's buttons and keys follow the wall clock
    if (o->clockGiven && o->config.clock == ClockMode::Virtual) {
      *error = "the web view runs on the real clock: leave out --clock virtual";
      return kExitCommandLine;
    }
    o->config.clock = ClockMode::Real;
  }
  // a cut nobody can repeat is no help: the seed is always printed with it
  if (!o->seedGiven) o->config.powerSeed = std::random_device{}();
  if (o->hostTaps.empty() && o->receiverTaps.empty() && o->web.empty()) {
    *error = "no plug-in to run: give a plug-in file (PLUGIN.tap, --tap FILE or --load PATH)";
    return kExitCommandLine;
  }
  // a typo in a share's folder would otherwise run against an empty mount
  for (const MountConfig &m : o->config.mounts) {
    std::error_code ec;
    if (!fs::is_directory(m.hostPath, ec)) {
      *error = "the host folder of --mount " + m.receiverPath + " does not exist: " + m.hostPath.string();
      return kExitCommandLine;
    }
  }
  return kExitAsAsked;
}

}  // namespace

std::vector<std::string> KnownOptions()
{
  std::vector<std::string> all;
  for (const OptionRow &row : kOptions) all.push_back(row.name);
  return all;
}

// The help as the user reads it: the text around the table's lines, each
// option's form in the first columns and its lines beside it from column
// kHelpColumn + 1 on (below the form when the form leaves no two spaces).
std::string UsageText()
{
  constexpr size_t kHelpColumn = 29;
  static const char *const head = R"(usage: receiver --root DIR [options] [PLUGIN.tap ...]

Plays the receiver's firmware on this PC: the plug-in files given are
installed into /mnt/hd/ProgramFiles of the receiver root and loaded, and the
firmware runs until they have unloaded (or for a given time).

)";
  static const char *const tail = R"(Exit status: 0 when the run ended as asked, 1 when it did not (a plug-in
failed to load, plug-ins still loaded at the end, a plug-in error), 2 for a
wrong command line or a missing plug-in file, 3 after a power cut
(--power-cut-at, --power-cut-at-change), 70 when the simulator itself cannot
go on (no firmware functions module, no temporary folder).
)";
  std::string text = head;
  for (const OptionRow &row : kOptions) {
    if (row.group != nullptr) text += std::string(&row == kOptions ? "" : "\n") + row.group + "\n";
    std::string form = std::string("  ") + row.name + (row.value != nullptr ? std::string(" ") + row.value : "");
    std::istringstream lines(row.help);
    std::string line;
    bool first = true;
    if (form.size() + 2 > kHelpColumn) text += form + "\n", first = false;
    while (std::getline(lines, line)) {
      text +=
          (first ? form + std::string(kHelpColumn - form.size(), ' ') : std::string(kHelpColumn, ' ')) + line + "\n";
      first = false;
    }
  }
  return text + "\n" + tail;
}

int ParseOptions(const std::vector<std::string> &args, RunOptions *o, std::string *error)
{
  o->config.openTerminals = {0};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (a == "-h") a = "--help";
    if (a.rfind("--", 0) != 0) {
      if (!a.empty() && a[0] == '-') {
        *error = UnknownOption(a);
        return kExitCommandLine;
      }
      o->hostTaps.push_back(a);
      continue;
    }
    const size_t eq = a.find('=');
    const OptionRow *row = FindOption(a.substr(0, eq));
    if (row == nullptr) {
      *error = UnknownOption(a.substr(0, eq));
      return kExitCommandLine;
    }
    std::string value;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
    } else if (row->value != nullptr && i + 1 < args.size()) {
      value = args[++i];
    } else if (row->value != nullptr) {
      *error = "option " + a + " needs a value (see receiver --help)";
      return kExitCommandLine;
    }
    if (row->value == nullptr && eq != std::string::npos) {
      *error = "option " + a.substr(0, eq) + " takes no value (see receiver --help)";
      return kExitCommandLine;
    }
    if (!ApplyOption(*row, value, o, error)) return kExitCommandLine;
    if (o->help || o->version) return kExitAsAsked;
  }
  return CheckOptions(o, error);
}

}  // namespace sim
