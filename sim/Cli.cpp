// Cli.cpp -- options, help text and the run loop of the `receiver` program.
//
// Exit status: 0 when the run ended as asked, 1 when it did not (a plug-in
// failed to load, plug-ins still loaded when the time ran out, a plug-in
// error unless --lenient), 2 for a
// wrong command line or a missing plug-in file, 3 after a power cut;
// SimFatal's 70 for a host failure.
#include "Cli.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "FirmwareState.h"
#include "HostFs.h"
#include "HostTerminals.h"
#include "SimClock.h"
#include "StatusRequester.h"
#include "TapFlavour.h"
#ifdef FERROX_WEB_VIEW
#include "WebView.h"
#endif

namespace sim {

namespace fs = std::filesystem;

// Options that take a value (those without one are kFlagOptions below).
static const std::set<std::string> kValueOptions = {
    "--root", "--tap", "--load", "--mount", "--system-id", "--firmware-version", "--missing-symbol",
    "--firmware-module", "--mem-limit", "--fail-writes", "--play", "--record", "--clock", "--date",
    "--time", "--uptime", "--key", "--keys-file", "--stop-event-at", "--until", "--seconds",
    "--terminals", "--console", "--status-every", "--screenshots", "--screenshot-at", "--fonts", "--warn-event-ms", "--web",
    "--power-cut-at", "--power-cut-at-change", "--seed", "--share-silent"};

// Options without a value.
static const std::set<std::string> kFlagOptions = {"--help", "--utf8-firmware", "--quiet", "--trace-keys",
                                                   "--console-raw", "--version", "--lenient",
                                                   "--screenshots-every-sync"};

std::vector<std::string> KnownOptions()
{
  std::vector<std::string> all(kValueOptions.begin(), kValueOptions.end());
  all.insert(all.end(), kFlagOptions.begin(), kFlagOptions.end());
  return all;
}

// The help as the user reads it: one raw text, longer than 60 lines for it.
std::string UsageText()
{
  return R"(usage: receiver --root DIR [options] [PLUGIN.tap ...]

Plays the receiver's firmware on this PC: the plug-in files given are
installed into /mnt/hd/ProgramFiles of the receiver root and loaded, and the
firmware runs until they have unloaded (or for a given time).

Receiver
  --root DIR                 host folder that is the receiver's "/" (created;
                             /mnt/hd is the internal disk inside it)
  --tap FILE                 a plug-in file to install and load (like a
                             positional PLUGIN.tap; repeatable)
  --load PATH                load a plug-in file already in the receiver
                             ("/mnt/hd/ProgramFiles/X.tap"; repeatable)
  --mount RPATH=HOSTDIR[@APPEAR[-VANISH]]
                             serve receiver path RPATH from host folder
                             HOSTDIR; it appears APPEAR seconds into the run
                             and vanishes at VANISH (repeatable)
  --share-silent RPATH@AT+FOR
                             the --mount at RPATH stops answering AT seconds
                             into the run for FOR seconds: every call on it
                             waits meanwhile, as for a NAS switched off
  --system-id N              TAP_GetSystemId (default 22010)
  --firmware-version N       TAP_GetVersion (default 0x1A07)
  --utf8-firmware            a firmware that keeps file names in UTF-8
  --missing-symbol NAME      the firmware lacks symbol NAME (repeatable)
  --firmware-module M        firmware functions module: default, noexec (no
                             program starter) or a file path
  --mem-limit TOTAL[,BLOCK]  TAP_MemAlloc limits in bytes (total, largest block)
  --fail-writes RPATH=BYTES  writes to the file (or below the folder) RPATH
                             fail once BYTES were written (disk full)
  --play RPATH[@MODE]        a recording being played back (play mode, 1)
  --record SLOT=RPATH        a recording being made in recording slot SLOT
  --power-cut-at SECONDS     switch the receiver off then: the run stops dead,
                             and of what was not synced the files keep what a
                             power cut may leave (see README); exit status 3
  --power-cut-at-change N    the same just before the run's Nth change to a
                             file or folder
  --seed N                   what a power cut keeps (default: random; printed)

Time
  --clock virtual|real       virtual (default): every firmware round is one
                             10-ms tick and nothing waits; real: wall clock
  --date YYYY-MM-DD          receiver date at start (default 2015-12-20;
                             1858-11-17 to 2038-04-22, the range of the
                             receiver's 16-bit Modified Julian Date)
  --time HH:MM[:SS]          receiver time at start (default 21:05:09)
  --uptime SECONDS           receiver uptime at start (default 300)

Input and end
  --key KEY[@SECONDS]        press KEY at SECONDS into the run (default 0);
                             KEY is Ok, Exit, Up, Down, Left, Right, Red,
                             Green, Yellow, Blue, PageUp, PageDown, PageUp2,
                             PageDown2, Menu, a digit 0 to 9 or a key code
                             (0x1001E); repeatable
  --keys-file FILE           keys from FILE, one "SECONDS KEY" per line,
                             "#" starts a comment
  --stop-event-at SECONDS    send the stop event to every plug-in then
  --status-every SECONDS     ask the copy service for its status at this
                             interval, as another plug-in would, and print
                             each reply (file, size, percent, MB/min, entry
                             n of m, state)
  --warn-event-ms N          a line for every event handler call that takes
                             longer than N ms of wall time (the receiver's
                             picture and remote stall meanwhile); the longest
                             call of each plug-in is printed at the end anyway
  --trace-keys               print what each plug-in's handler returned for
                             every key pressed
  --until unloaded|time      end when every plug-in has unloaded (default),
                             or after --seconds
  --seconds N                run time for --until time; for --until unloaded
                             the time after which the run fails (default 600;
                             at most 42949672, what the 10-ms tick counter
                             holds)

Screen
  --screenshots DIR          write a PNG of the TV screen (menus over a plain
                             picture) into DIR at the end of every event
                             handler call that changed it, named by the tick
                             (screen-0000001234.png; names sort in time order)
  --screenshots-every-sync   with --screenshots: a PNG after every sync that
                             changed the screen, half-drawn menus included
  --screenshot-at SECONDS    one PNG at that moment (into the --screenshots
                             folder, else beside the root); repeatable
  --fonts DIR|none           copy the .ufnt fonts of DIR into the receiver's
                             /mnt/hd/ProgramFiles/Settings/Fonts; by default
                             a root without that folder gets the standard
                             fonts of this build (Calibri_10 ... Calibri_20B)

Console
  --terminals LIST|none      pseudo-terminals that open, e.g. 0,2 (default 0)
  --console FILE|-|none      where terminal output goes (default -: stdout)
  --console-raw              terminal output as the receiver's ISO 8859-1
                             bytes (default: shown as UTF-8)
  --quiet                    no lifecycle lines
  --lenient                  plug-in errors (a block freed twice, a handle
                             or stream never opened, TAP_Exit outside an
                             event) are warnings; by default they fail the run
  --web [ADDR:]PORT          the virtual receiver in a web browser: serves
                             the live screen, a remote control, the console,
                             the service log, the copy service's status and
                             buttons to start plug-ins, send the stop event
                             and mount or unmount the --mount folders, on
                             127.0.0.1 unless ADDR is given (PORT 0: any
                             free port); runs on the real clock until Ctrl-C
                             (or for --seconds); plug-ins are optional
  --version                  the simulator's version
  --help                     this text

Exit status: 0 when the run ended as asked, 1 when it did not (a plug-in
failed to load, plug-ins still loaded at the end, a plug-in error), 2 for a
wrong command line or a missing plug-in file, 3 after a power cut
(--power-cut-at, --power-cut-at-change), 70 when the simulator itself cannot
go on (no firmware functions module, no temporary folder).
)";
}

// A finite number of seconds, 0 or more ("inf" and "nan" are no run time).
static bool ParseNumber(const std::string &text, double *value)
{
  char *end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(*value) && *value >= 0;
}

// The run time of --seconds must fit the receiver's 32-bit tick counter.
static bool ParseRunTime(const std::string &text, double *value)
{
  return ParseNumber(text, value) && *value <= kMaxRunSeconds;
}

static bool ParseUnsigned(const std::string &text, uint64_t *value)
{
  char *end = nullptr;
  if (text.empty() || text[0] == '-') return false;
  *value = std::strtoull(text.c_str(), &end, 0);
  return *end == '\0';
}

static bool ParseMount(const std::string &v, MountConfig *m)
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
static bool ParseDate(const std::string &v, Config *c)
{
  char rest = 0;
  uint16_t mjd = 0;
  return std::sscanf(v.c_str(), "%d-%d-%d%c", &c->year, &c->month, &c->day, &rest) == 3 &&
         MakeMjd(c->year, c->month, c->day, &mjd);
}

static bool ParseTime(const std::string &v, Config *c)
{
  c->second = 0;
  char rest = 0;
  int n = std::sscanf(v.c_str(), "%d:%d:%d%c", &c->hour, &c->minute, &c->second, &rest);
  if (n == 2 && v.find_first_not_of("0123456789:") != std::string::npos) return false;
  return (n == 2 || n == 3) && c->hour >= 0 && c->hour < 24 && c->minute >= 0 && c->minute < 60 && c->second >= 0 &&
         c->second < 60;
}

static bool ParseTerminals(const std::string &v, Config *c)
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

static bool ParseKeyAt(const std::string &v, std::vector<KeyPress> *keys)
{
  size_t at = v.find('@');
  KeyPress k{0, 0};
  if (!ParseKey(v.substr(0, at), &k.key)) return false;
  if (at != std::string::npos && !ParseNumber(v.substr(at + 1), &k.at)) return false;
  keys->push_back(k);
  return true;
}

static bool ParseKeysFile(const std::string &file, std::vector<KeyPress> *keys, std::string *error)
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

// What the value of an option looks like, for the line that refuses one.
static std::string ExpectedForm(const std::string &opt)
{
  static const std::map<std::string, std::string> forms = {
      {"--key", "KEY[@SECONDS], KEY a key name (Ok, Exit, Up, Red, 7, ...) or a key code like 0x1001E"},
      {"--mount", "RPATH=HOSTDIR[@APPEAR[-VANISH]], like /mnt/hd/DataFiles/NAS-Share=/srv/nas@5"},
      {"--fail-writes", "RPATH=BYTES"},
      {"--share-silent", "RPATH@AT+FOR in seconds, RPATH a --mount given before it"},
      {"--mem-limit", "TOTAL[,BLOCK] in bytes"},
      {"--record", "SLOT=RPATH"},
      {"--play", "RPATH[@MODE]"},
      {"--date", "YYYY-MM-DD"},
      {"--time", "HH:MM[:SS]"},
      {"--terminals", "N[,N...], numbers 0 to 19"},
      {"--clock", "virtual or real"},
      {"--until", "unloaded or time"},
  };
  auto it = forms.find(opt);
  return it == forms.end() ? "" : "; expected " + it->second;
}

// Edits (insert, delete, change) that turn a into b.
static size_t EditDistance(const std::string &a, const std::string &b)
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
static std::string UnknownOption(const std::string &opt)
{
  std::string best;
  size_t bestDistance = 3;
  for (const std::string &known : KnownOptions()) {
    size_t d = EditDistance(opt, known);
    if (d < bestDistance) best = known, bestDistance = d;
  }
  return "unknown option " + opt + (best.empty() ? "" : "; did you mean " + best + "?") + " (see receiver --help)";
}

// One option with its value; false with a message for a bad value. A line
// or two for each option, in one chain: longer than 60 lines because there
// are that many options, each read where it can be seen with its check.
static bool ApplyOption(const std::string &opt, const std::string &v, RunOptions *o, std::string *error)
{
  Config &c = o->config;
  uint64_t n = 0;
  double d = 0;
  bool ok = true;
  if (opt == "--root") c.root = fs::absolute(v);
  else if (opt == "--tap") o->hostTaps.push_back(v);
  else if (opt == "--load") o->receiverTaps.push_back(v);
  else if (opt == "--mount") {
    MountConfig m;
    ok = ParseMount(v, &m);
    if (ok) c.mounts.push_back(m);
  } else if (opt == "--share-silent") {
    size_t at = v.rfind('@'), plus = v.rfind('+');
    auto m = std::find_if(c.mounts.begin(), c.mounts.end(),
                          [&](const MountConfig &g) { return at != std::string::npos && g.receiverPath == v.substr(0, at); });
    ok = m != c.mounts.end() && plus != std::string::npos && plus > at &&
         ParseNumber(v.substr(at + 1, plus - at - 1), &m->silentAt) && ParseNumber(v.substr(plus + 1), &m->silentFor);
  } else if (opt == "--system-id") ok = ParseUnsigned(v, &n) && n <= 0xFFFFFFFFu, c.systemId = static_cast<dword>(n);
  else if (opt == "--firmware-version") ok = ParseUnsigned(v, &n) && n <= 0xFFFFFFFFu, c.firmwareVersion = static_cast<dword>(n);
  else if (opt == "--missing-symbol") c.missingSymbols.push_back(v);
  else if (opt == "--firmware-module") c.firmwareModule = v;
  else if (opt == "--mem-limit") {
    size_t comma = v.find(',');
    uint64_t block = 0;
    ok = ParseUnsigned(v.substr(0, comma), &n) &&
         (comma == std::string::npos || ParseUnsigned(v.substr(comma + 1), &block));
    c.memTotalLimit = n;
    c.memBlockLimit = block;
  } else if (opt == "--fail-writes") {
    size_t eq = v.rfind('=');
    ok = eq != std::string::npos && ParseUnsigned(v.substr(eq + 1), &n);
    if (ok) o->writeFaults.push_back({v.substr(0, eq), n});
  } else if (opt == "--play") {
    size_t at = v.rfind('@');
    o->playPath = v.substr(0, at);
    if (at != std::string::npos) ok = ParseUnsigned(v.substr(at + 1), &n) && n <= 255, o->playMode = static_cast<int>(n);
  } else if (opt == "--record") {
    size_t eq = v.find('=');
    ok = eq != std::string::npos && ParseUnsigned(v.substr(0, eq), &n) && n < FW_REC_SLOT_TABLE;
    if (ok) o->recordings.push_back({static_cast<int>(n), v.substr(eq + 1)});
  } else if (opt == "--clock") {
    ok = v == "virtual" || v == "real";
    c.clock = v == "real" ? ClockMode::Real : ClockMode::Virtual;
    o->clockGiven = true;
  } else if (opt == "--date") ok = ParseDate(v, &c);
  else if (opt == "--time") ok = ParseTime(v, &c);
  else if (opt == "--uptime") ok = ParseNumber(v, &c.uptimeAtStart);
  else if (opt == "--key") ok = ParseKeyAt(v, &o->keys);
  else if (opt == "--keys-file") return ParseKeysFile(v, &o->keys, error);
  else if (opt == "--stop-event-at") ok = ParseNumber(v, &d), o->stopEvents.push_back(d);
  else if (opt == "--status-every") ok = ParseNumber(v, &o->statusEvery) && o->statusEvery > 0;
  else if (opt == "--screenshots") c.screenshotDir = v;
  else if (opt == "--screenshot-at") ok = ParseNumber(v, &d) && d >= 0, o->screenshotsAt.push_back(d);
  else if (opt == "--until") ok = v == "unloaded" || v == "time", o->untilUnloaded = v == "unloaded";
  else if (opt == "--seconds") ok = ParseRunTime(v, &o->seconds), o->secondsGiven = true;
  else if (opt == "--web") {
#ifdef FERROX_WEB_VIEW
    WebAddress at;
    ok = ParseWebAddress(v, &at);
    o->web = v;
#else
    *error = "this receiver program was built without the web view (no cpp-httplib)";
    return false;
#endif
  }
  else if (opt == "--terminals") ok = ParseTerminals(v, &c);
  else if (opt == "--console") o->console = v;
  else if (opt == "--fonts") o->fonts = v;
  else if (opt == "--warn-event-ms") ok = ParseNumber(v, &c.warnEventMs) && c.warnEventMs > 0;
  else if (opt == "--power-cut-at") ok = ParseNumber(v, &c.powerCutAt) && c.powerCutAt >= 0;
  else if (opt == "--power-cut-at-change") ok = ParseUnsigned(v, &c.powerCutAtChange) && c.powerCutAtChange > 0;
  else if (opt == "--seed") ok = ParseUnsigned(v, &c.powerSeed), o->seedGiven = true;
  else {
    *error = UnknownOption(opt);
    return false;
  }
  if (!ok) *error = "bad value for " + opt + ": \"" + v + "\"" + ExpectedForm(opt) + " (see receiver --help)";
  return ok;
}

static int CheckOptions(RunOptions *o, std::string *error);

int ParseOptions(const std::vector<std::string> &args, RunOptions *o, std::string *error)
{
  o->config.openTerminals = {0};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (a == "--version") {
      o->version = true;
      return 0;
    }
    if (a == "--help" || a == "-h") {
      o->help = true;
      return 0;
    }
    if (a == "--utf8-firmware") o->config.utf8Firmware = true;
    else if (a == "--quiet") o->quiet = true;
    else if (a == "--trace-keys") o->traceKeys = true;
    else if (a == "--console-raw") o->config.consoleRaw = true;
    else if (a == "--lenient") o->config.lenient = true;
    else if (a == "--screenshots-every-sync") o->config.screenshotsEverySync = true;
    else if (a.rfind("--", 0) == 0) {
      std::string value;
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
      } else if (kValueOptions.count(a) == 0) {
        *error = UnknownOption(a);
        return 2;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = "option " + a + " needs a value (see receiver --help)";
        return 2;
      }
      if (!ApplyOption(a, value, o, error)) return 2;
    } else if (!a.empty() && a[0] == '-') {
      *error = UnknownOption(a);
      return 2;
    } else {
      o->hostTaps.push_back(a);
    }
  }
  return CheckOptions(o, error);
}

// Does the file start as an ELF shared object does? (The loader says more
// about the rest.)
static bool LooksLikePlugin(const fs::path &file)
{
  char head[18] = {};
  std::ifstream in(file, std::ios::binary);
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, "\x7f" "ELF", 4) == 0 && head[16] == 3 /* ET_DYN */;
}

// A plug-in file that cannot run in this receiver: one built for another
// CPU, or the receiver flavour, whose file calls bypass the receiver root
// and reach this machine's own /mnt/hd (only a machine laid out like the
// receiver, run with --root /, gives them what they expect). False with
// what to do instead.
static bool FitsThisReceiver(const fs::path &file, const fs::path &root, const std::string &what,
                             std::string *error)
{
  TapFileFacts f = ReadTapFacts(file);
  if (f.elf && !f.thisCpu) {
    *error = what + " is built for the " + f.cpu +
             " CPU, not for this one: run it in the virtual receiver (make box), or take the plug-in file of "
             "this machine's own build";
    return false;
  }
  if (f.flavour == TapFlavour::Receiver && root.lexically_normal() != "/") {
    *error = what + " is the receiver flavour of a plug-in: its file calls go to this machine's own files, not "
                    "into the receiver root " + root.string() +
             ". Run it with --root / on a machine laid out like the receiver (the virtual receiver: make box), "
             "or load the simulator flavour (tap-sim/ of the cross build)";
    return false;
  }
  return true;
}

// The checks of the whole command line, once every option is read; 0 or 2
// with a message.
static int CheckOptions(RunOptions *o, std::string *error)
{
  if (o->config.root.empty()) {
    *error = "no receiver root folder: give --root DIR (see receiver --help)";
    return 2;
  }
  std::error_code ec;
  if (fs::exists(o->config.root, ec) && !fs::is_directory(o->config.root, ec)) {
    *error = "the receiver root " + o->config.root.string() + " is a file, not a folder: give a folder for --root";
    return 2;
  }
  // a plug-in that cannot run is refused before anything is made or copied
  for (const std::string &tap : o->hostTaps) {
    if (!fs::is_regular_file(tap, ec)) {
      *error = "plug-in file not found: " + tap;
      return 2;
    }
    if (!LooksLikePlugin(tap)) {
      *error = "not a plug-in file (no ELF shared object): " + tap;
      return 2;
    }
    if (!FitsThisReceiver(tap, o->config.root, tap, error)) return 2;
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
      return 2;
    }
    if (!LooksLikePlugin(host)) {
      *error = "--load " + tap + ": not a plug-in file (no ELF shared object)";
      return 2;
    }
    if (!FitsThisReceiver(host, o->config.root, "--load " + tap, error)) return 2;
  }
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
      return 2;
    }
    o->config.clock = ClockMode::Real;
  }
  // a cut nobody can repeat is no help: the seed is always printed with it
  if (!o->seedGiven) o->config.powerSeed = std::random_device{}();
  if (o->hostTaps.empty() && o->receiverTaps.empty() && o->web.empty()) {
    *error = "no plug-in to run: give a plug-in file (PLUGIN.tap, --tap FILE or --load PATH)";
    return 2;
  }
  // a typo in a share's folder would otherwise run against an empty mount
  for (const MountConfig &m : o->config.mounts) {
    std::error_code ec;
    if (!fs::is_directory(m.hostPath, ec)) {
      *error = "the host folder of --mount " + m.receiverPath + " does not exist: " + m.hostPath.string();
      return 2;
    }
  }
  return 0;
}

// A key to every plug-in until one consumes it, as PressKey does, printing
// what each handler returned.
static void PressKeyTraced(Receiver &rx, dword key)
{
  for (int slot = 0; slot < TAP_TABLE_SLOTS; ++slot) {
    if (!rx.IsLoaded(slot) || !_tapTask[slot].Handler) continue;
    TapParam r = rx.SendEvent(slot, EVT_KEY, key, 0);
    std::cout << "receiver: [" << rx.Ticks() << "] key 0x" << std::hex << std::uppercase << key
              << ": slot " << std::dec << slot << " returned 0x" << std::hex << r << std::dec
              << std::nouppercase << std::endl;
    if (r == 0) break;
  }
}

// Runs `what` once at each of the given seconds of the run.
// (The moments are kept as ticks: a driver is asked every round, and on a
// receiver CPU without an FPU every floating-point compare is emulated.)
static void AtSeconds(Receiver &rx, const std::vector<double> &seconds, void (*what)(Receiver &))
{
  auto ticks = std::make_shared<std::vector<int64_t>>();
  for (double at : seconds) ticks->push_back(at >= 0 ? FirstTickAt(at) : -1);
  rx.AddDriver([ticks, what](Receiver &r) {
    for (int64_t &at : *ticks)
      if (at >= 0 && r.Ticks() >= at) {
        at = -1;
        what(r);
      }
  });
}

// The drivers of a run: whatever happens at given seconds of it. Further
// drivers (a status requester sending requests at intervals, ...) are added
// here.
static void AddDrivers(Receiver &rx, const RunOptions &o)
{
  auto keys = std::make_shared<std::vector<std::pair<int64_t, KeyPress>>>();
  for (const KeyPress &k : o.keys) keys->push_back({k.at >= 0 ? FirstTickAt(k.at) : -1, k});
  bool trace = o.traceKeys;
  rx.AddDriver([keys, trace](Receiver &r) {
    for (auto &[at, k] : *keys)
      if (at >= 0 && r.Ticks() >= at) {
        at = -1;  // delivered
        if (trace)
          PressKeyTraced(r, k.key);
        else
          r.PressKey(k.key);
      }
  });
  if (o.statusEvery > 0) AddStatusRequester(rx, o.statusEvery, std::cout);
  AtSeconds(rx, o.stopEvents, [](Receiver &r) { r.SendStop(); });
  AtSeconds(rx, o.screenshotsAt, [](Receiver &r) {
    std::string file = r.WriteScreenshot();
    if (file.empty()) std::cerr << "receiver: the screenshot could not be written" << std::endl;
  });
}

// The fonts the run asked for; false after a message when they cannot be put in.
static bool SetUpFonts(const RunOptions &o)
{
  if (o.fonts == "none") return true;
  fs::path root = o.config.root;
  std::error_code ec;
  if (o.fonts.empty() && fs::exists(root / std::string(kFontFolder).substr(1), ec)) return true;
  fs::path from = o.fonts.empty() ? StandardFontDir() : fs::path(o.fonts);
  std::string error;
  int n = InstallFonts(root, from, &error);
  if (n < 0) {
    // without an explicit folder a missing font set is only a warning: the
    // plug-ins say themselves which font they miss
    std::cerr << "receiver: " << (o.fonts.empty() ? "warning: " : "") << error << "\n";
    return o.fonts.empty();
  }
  if (!o.quiet) std::cout << "receiver: " << n << " fonts put into " << kFontFolder << "\n";
  return true;
}

static void SetUpReceiver(Receiver &rx, const RunOptions &o)
{
  for (const auto &f : o.writeFaults) rx.FailWritesAfter(f.first, f.second);
  if (!o.playPath.empty()) rx.SetPlayback(o.playPath, static_cast<byte>(o.playMode));
  for (const auto &r : o.recordings) rx.SetRecording(r.first, r.second);
  AddDrivers(rx, o);
}

// Installs and loads every plug-in; false after a message when one fails.
static bool LoadAll(Receiver &rx, const RunOptions &o)
{
  std::vector<std::string> paths;
  for (const std::string &tap : o.hostTaps) paths.push_back(rx.Install(tap));
  paths.insert(paths.end(), o.receiverTaps.begin(), o.receiverTaps.end());
  for (const std::string &path : paths) {
    std::string error;
    if (rx.Load(path, &error) < 0) {
      std::cerr << "receiver: cannot load " << path << ": " << error << "\n";
      return false;
    }
  }
  return true;
}

// The last "Summary: " line a plug-in printed on a terminal of the run,
// without its time stamp, or "".
static std::string LastSummaryOfRun(const Receiver &rx, const RunOptions &o)
{
  std::string found;
  for (int pts : o.config.openTerminals) {
    std::string out = rx.TerminalOutput(pts);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());  // as the echo shows it
    const std::string line = LastSummaryLine(out);
    if (!line.empty()) found = o.config.consoleRaw ? line : TerminalTextAsUtf8(line);
  }
  return found;
}

// Which plug-ins ran and how each ended, then the copy service's summary.
static void ReportPluginRuns(const Receiver &rx, const RunOptions &o)
{
  for (const PluginRun &r : rx.PluginRuns()) {
    std::cout << "receiver: " << r.plugin << ": loaded at tick " << r.loadedAt << ", ";
    if (r.ending.empty()) std::cout << "still loaded at the end of the run";
    else std::cout << r.ending << " at tick " << r.endedAt;
    std::cout << std::endl;
  }
  std::string summary = LastSummaryOfRun(rx, o);
  if (!summary.empty()) std::cout << "receiver: " << summary << std::endl;
}

bool HasWebView()
{
#ifdef FERROX_WEB_VIEW
  return true;
#else
  return false;
#endif
}

// The end of every run: its length, the handler times, the plug-ins and the
// plug-in errors; the exit status so far comes in and goes out.
static int ReportRun(Receiver &rx, const RunOptions &o, int status)
{
  std::cout << "receiver: run ended after " << rx.Ticks() << " ticks (" << rx.RunSeconds() << " s), "
            << rx.LoadedCount() << " plug-in(s) loaded" << std::endl;
  if (o.config.powerCutAt >= 0 || o.config.powerCutAtChange > 0)
    std::cout << "receiver: no power cut: the run made " << rx.FileChanges() << " changes to files and folders"
              << std::endl;
  if (o.config.clock == ClockMode::Real) {
    char line[200];
    std::snprintf(line, sizeof line, "receiver: longest gap between two idle rounds: %.1f ms (a round is 10 ms)",
                  rx.LongestRoundGapMs());
    std::cout << line << std::endl;
  }
  if (rx.ScreenshotCount() > 0)
    std::cout << "receiver: " << rx.ScreenshotCount() << " screenshots written in "
              << static_cast<long long>(rx.ScreenshotMilliseconds() + 0.5)
              << " ms (not counted in the plug-ins' times)" << std::endl;
  for (const HandlerTimes &h : rx.EventHandlerTimes()) {
    char line[700];
    std::snprintf(line, sizeof line,
                  "receiver: %s: %llu event handler calls, %.1f ms in all, longest %.1f ms (event 0x%04X at tick %u)",
                  h.plugin.c_str(), static_cast<unsigned long long>(h.calls), h.totalMs, h.longestMs,
                  static_cast<unsigned>(h.longestEvent), static_cast<unsigned>(h.longestTick));
    std::cout << line << std::endl;
    // a share that stopped answering held the firmware's own thread
    if (h.silentShareMs > 0)
      std::cout << "receiver: " << h.plugin << ": its events waited " << static_cast<long long>(h.silentShareMs + 0.5)
                << " ms in all for a share that did not answer" << std::endl;
  }
  ReportPluginRuns(rx, o);
  if (rx.ErrorCount() > 0) {
    std::cerr << "receiver: " << rx.ErrorCount()
              << " plug-in error(s) in this run; it fails (--lenient makes them warnings)\n";
    status = 1;
  }
  rx.Shutdown();
  return status;
}

#ifdef FERROX_WEB_VIEW
// Ctrl-C or a termination request ends a web run between two rounds.
static std::atomic<bool> g_interrupted{false};
static void OnInterrupt(int) { g_interrupted = true; }

// The virtual receiver in a browser: the page drives the run until Ctrl-C
// (or --seconds); the plug-ins of the command line load at its start.
static int RunWebView(RunOptions o)
{
  WebAddress at;
  ParseWebAddress(o.web, &at);
  WebControls controls;
  std::vector<std::string> startable = {kServiceTap, kSetupTap};
  for (const std::string &tap : o.hostTaps) {
    std::string path = TAPFS_ROOT PROGRAM_FILES_DIR "/" + fs::path(tap).filename().string();
    if (std::find(startable.begin(), startable.end(), path) == startable.end()) startable.push_back(path);
  }
  controls.startable = startable;
  for (const MountConfig &m : o.config.mounts) controls.mounts.push_back(m.receiverPath);
  if (o.statusEvery > 0) controls.statusEvery = o.statusEvery;
  // what the page shows of the copy service: its log and its status reply
  controls.logPath = kServiceLog;
  controls.status = [](Receiver &r) {
    return SlotOfTap(r, kFerroxId) >= 0 ? RequestStatus(r) : StatusAnswer{};
  };
  WebView web(controls);
  o.config.consoleEcho = web.Console(o.config.consoleEcho);
  o.statusEvery = 0;  // the page asks; the console stays free of status lines
  Receiver rx(o.config);
  if (!SetUpFonts(o)) return 2;
  SetUpReceiver(rx, o);
  rx.AddDriver([&web](Receiver &r) { web.Pump(r); });
  std::string error;
  if (!web.Start(at, &error)) {
    std::cerr << "receiver: " << error << "\n";
    return 2;
  }
  const std::string host = at.host.find(':') != std::string::npos ? "[" + at.host + "]" : at.host;
  std::cout << "receiver: web view at http://" << host << ":" << web.Port() << "/ (Ctrl-C ends the run)"
            << std::endl;
  if (!LoadAll(rx, o)) {
    web.Stop();
    return ReportRun(rx, o, 1);
  }
  auto oldInt = std::signal(SIGINT, OnInterrupt);
  auto oldTerm = std::signal(SIGTERM, OnInterrupt);
  while (!g_interrupted && (!o.secondsGiven || rx.RunSeconds() < o.seconds)) rx.Step();
  std::signal(SIGINT, oldInt);
  std::signal(SIGTERM, oldTerm);
  web.Stop();
  std::cout << "receiver: web view closed after " << web.Requests() << " requests" << std::endl;
  return ReportRun(rx, o, 0);
}
#endif

int RunProgram(const RunOptions &options)
{
  RunOptions o = options;
  std::unique_ptr<std::ofstream> consoleFile;
  if (o.console == "-") o.config.consoleEcho = &std::cout;
  else if (o.console != "none") {
    consoleFile = std::make_unique<std::ofstream>(o.console, std::ios::binary);
    if (!*consoleFile) {
      std::cerr << "receiver: cannot write the console file " << o.console << "\n";
      return 2;
    }
    o.config.consoleEcho = consoleFile.get();
  }
  if (!o.quiet) o.config.phaseLog = &std::cout;
#ifdef FERROX_WEB_VIEW
  if (!o.web.empty()) return RunWebView(o);
#endif
  Receiver rx(o.config);
  if (!SetUpFonts(o)) return 2;
  SetUpReceiver(rx, o);
  // on a machine laid out like the receiver the plug-ins' own libc calls
  // open the terminals: real ones, whose lines join the console
  std::unique_ptr<HostTerminals> terminals;
  if (o.config.root.lexically_normal() == "/" && !o.config.openTerminals.empty()) {
    std::string warning;
    terminals = std::make_unique<HostTerminals>(o.config.openTerminals, &warning);
    if (!warning.empty()) std::cerr << "receiver: warning: " << warning << "\n";
    rx.AddDriver([t = terminals.get()](Receiver &r) { t->Pump(r); });
  }
  if (!LoadAll(rx, o)) return 1;
  int status = 0;
  if (o.untilUnloaded) {
    if (!rx.RunUntilUnloaded(o.seconds)) {
      std::cerr << "receiver: " << rx.LoadedCount() << " plug-in(s) still loaded after " << o.seconds
                << " s\n";
      status = 1;
    }
  } else {
    rx.RunFor(o.seconds);
  }
  if (terminals) terminals->Drain(rx);
  return ReportRun(rx, o, status);
}

int ReceiverMain(int argc, char **argv)
{
  std::vector<std::string> args(argv + 1, argv + argc);
  RunOptions o;
  std::string error;
  if (ParseOptions(args, &o, &error) != 0) {
    std::cerr << "receiver: " << error << "\n";
    return 2;
  }
  if (o.help) {
    std::cout << UsageText();
    return 0;
  }
  if (o.version) {
    std::cout << "receiver " << FERROX_VERSION << " (Ferrox receiver simulator)\n";
    return 0;
  }
  return RunProgram(o);
}

}  // namespace sim
