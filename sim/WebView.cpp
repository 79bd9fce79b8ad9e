// WebView.cpp -- the HTTP side of `receiver --web` (cpp-httplib) and the
// board it shares with the firmware rounds.
//
// Owns: the server and its threads, the board (screen copy and its PNG,
// console and log text, status line, state, command queue).
#include "WebView.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <streambuf>
#include <thread>
#include <tuple>

#include "Cli.h"
#include "Osd.h"
#include "WebGuard.h"
#include "WebJson.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kTextKept = 512 * 1024;  // console and log text the page can still fetch
constexpr size_t kTextChunk = 64 * 1024;  // at most this much text in one pushed event
constexpr size_t kQueueLimit = 64;        // commands waiting for the next round
constexpr int kStreamLimit = 16;          // pushed streams at once (tabs)
constexpr auto kScreenEvery = std::chrono::milliseconds(80);
constexpr auto kPushWait = std::chrono::milliseconds(200);
constexpr auto kKeepAliveEvery = std::chrono::seconds(5);
constexpr auto kSlowEvery = std::chrono::milliseconds(500);  // log, state and status published
constexpr uint64_t kLogReadLimit = 1 << 20;                  // log bytes read in one round at most
constexpr size_t kPayloadLimit = 4096;                       // bytes of a request body
constexpr int kIoTimeoutSeconds = 5;                         // a reply written within
constexpr int kServerThreads = 48;  // the pushed streams of several tabs and a crowd of pollers
// A client gets fewer connections than there are threads, and its request
// has to come whole within a few seconds: a flood of half-open connections
// from one address costs a part of the threads for those seconds only.
constexpr int kBacklog = 512;  // connections waiting to be taken
constexpr WebGuardLimits kGuard{24, std::chrono::milliseconds(3000), 16 * 1024, kPayloadLimit};

// Text that grows at its end and forgets its beginning: offsets count from
// the start of the run.
struct GrowingText {
  std::string text;
  uint64_t base = 0;  // offset of text[0]
  uint64_t End() const { return base + text.size(); }
  void Append(const char *p, size_t n)
  {
    text.append(p, n);
    if (text.size() > kTextKept) {
      size_t drop = text.size() - kTextKept / 2;
      text.erase(0, drop);
      base += drop;
    }
  }
  // What follows offset `from` (clamped to what is kept), at most kTextChunk.
  std::string From(uint64_t from) const
  {
    uint64_t at = std::max(from, base);
    if (at >= End()) return "";
    return text.substr(static_cast<size_t>(at - base), kTextChunk);
  }
};

enum class CommandKind { Key, Start, Stop, Mount, Unmount };

struct Command {
  CommandKind kind;
  dword key = 0;
  std::string path;  // a receiver path from the fixed lists
};

std::string BaseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

struct WebView::Board {
  WebControls controls;
  std::string token;  // this run's command token, known only to the served page
  std::string page;   // the page with the token in it
  GuardedServer server{kGuard};
  std::thread serving;
  std::atomic<int> port{0};
  std::atomic<uint64_t> requests{0};

  std::mutex m;  // everything below; held for copies only
  std::condition_variable changed;
  bool stopping = false;
  std::vector<uint32_t> screen;  // the last published screen
  uint64_t screenVersion = 0;
  GrowingText console, log;
  std::string status = "{\"running\":false,\"summary\":\"\"}";  // JSON for the status pane
  uint64_t statusVersion = 0;
  std::string state = "{}";
  uint64_t stateVersion = 0;
  std::deque<Command> commands;
  int streams = 0;

  std::mutex encoding;  // one PNG encoder at a time; the main thread never takes it
  std::string png;
  uint64_t pngVersion = ~uint64_t{0};

  // main-thread side
  Clock::time_point lastScreen{}, lastSlow{}, lastStatus{};
  uint64_t lastSyncs = ~uint64_t{0};
  uint64_t logRead = 0;  // bytes of the log file read so far
  std::string logLine;   // the log's last line while it has no end yet
  std::string summary;   // the last run's "Summary: " line, until a run starts
  StatusAnswer answer;   // the copy service's last status reply

  // the console tee
  struct Tee : std::streambuf {
    Board *board = nullptr;
    std::ostream *forward = nullptr;
    int overflow(int c) override
    {
      if (c == EOF) return 0;
      char ch = static_cast<char>(c);
      xsputn(&ch, 1);
      return c;
    }
    std::streamsize xsputn(const char *p, std::streamsize n) override
    {
      {
        std::lock_guard<std::mutex> lock(board->m);
        board->console.Append(p, static_cast<size_t>(n));
      }
      board->changed.notify_all();
      if (forward) forward->write(p, n);
      return n;
    }
    int sync() override { return forward && !forward->flush() ? -1 : 0; }
  } tee;
  std::ostream teeStream{&tee};

  void Notice(const std::string &line)
  {
    std::string text = "receiver: web: " + line + "\n";
    teeStream << text << std::flush;
  }

  bool Queue(Command c)
  {
    {
      std::lock_guard<std::mutex> lock(m);
      if (commands.size() >= kQueueLimit) return false;
      commands.push_back(std::move(c));
    }
    return true;
  }

  std::string Png()
  {
    std::lock_guard<std::mutex> enc(encoding);
    std::vector<uint32_t> copy;
    uint64_t version;
    {
      std::lock_guard<std::mutex> lock(m);
      if (pngVersion == screenVersion) return png;
      copy = screen;
      version = screenVersion;
    }
    if (copy.empty()) copy.assign(static_cast<size_t>(kScreenW) * kScreenH, 0xFF000000u);
    std::string encoded = EncodeScreenPng(copy);
    std::lock_guard<std::mutex> lock(m);
    png = encoded;
    pngVersion = version;
    return png;
  }

  void Routes();
  void TakeCommand(const httplib::Request &req, httplib::Response &res);
  void PageRoutes();
  void EventStream();
  void CommandRoutes();
  bool NextEvents(struct Seen &seen, std::string *out);
  void Run(Receiver &rx, const Command &c);
  void PublishScreen(Receiver &rx, Clock::time_point now);
  void PublishSlow(Receiver &rx, Clock::time_point now);
  std::string ReadLogTail(Receiver &rx);
  std::string StateJson(Receiver &rx) const;
  void FollowRuns(const std::string &added);
  std::string StatusJson() const;
};

// What a pushed stream has sent so far.
struct Seen {
  uint64_t screen = ~uint64_t{0}, console = 0, log = 0, status = ~uint64_t{0}, state = ~uint64_t{0};
  Clock::time_point sent = Clock::now();
};

bool ParseWebAddress(const std::string &text, WebAddress *out)
{
  WebAddress a;
  std::string port = text;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    a.host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (a.host.size() > 2 && a.host.front() == '[' && a.host.back() == ']')
      a.host = a.host.substr(1, a.host.size() - 2);
    if (a.host.empty()) return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  a.port = std::stoi(port);
  if (a.port > 65535) return false;
  *out = a;
  return true;
}

WebView::WebView(WebControls controls) : board_(std::make_unique<Board>())
{
  board_->controls = std::move(controls);
  board_->tee.board = board_.get();
  // the run's token: 128 random bits, in the page and nowhere else
  std::random_device random;
  char hex[33];
  std::snprintf(hex, sizeof hex, "%08x%08x%08x%08x", random(), random(), random(), random());
  board_->token = hex;
  board_->page = kWebPageHtml;
  const std::string mark = "@FERROX_TOKEN@";
  board_->page.replace(board_->page.find(mark), mark.size(), board_->token);
}

WebView::~WebView() { Stop(); }

std::ostream *WebView::Console(std::ostream *forward)
{
  board_->tee.forward = forward;
  return &board_->teeStream;
}

int WebView::Port() const { return board_->port; }
uint64_t WebView::Requests() const { return board_->requests; }

void WebView::Board::Routes()
{
  httplib::Server &s = server;
  s.set_payload_max_length(kPayloadLimit);
  s.set_write_timeout(kIoTimeoutSeconds, 0);
  // more connections than threads wait for a free thread
  s.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  s.set_logger([this](const httplib::Request &, const httplib::Response &) { ++requests; });
  // every request passes the guard's checks first: a stranger's gets 403
  server.RefuseStrangers(token);
  s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
    if (res.body.empty()) res.set_content(JsonText({{"error", std::to_string(res.status)}}) + "\n", "application/json");
  });
  PageRoutes();
  EventStream();
  CommandRoutes();
}

// The page's files, its screen and its state on request.
void WebView::Board::PageRoutes()
{
  httplib::Server &s = server;
  auto text = [](const char *body, const char *type) {
    return [body, type](const httplib::Request &, httplib::Response &res) {
      res.set_header("Cache-Control", "no-cache");
      res.set_content(body, type);
    };
  };
  s.Get("/", [this](const httplib::Request &, httplib::Response &res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(page, "text/html; charset=utf-8");
  });
  s.Get("/receiver.js", text(kWebPageJs, "text/javascript; charset=utf-8"));
  s.Get("/receiver.css", text(kWebPageCss, "text/css; charset=utf-8"));

  s.Get("/screen.png", [this](const httplib::Request &, httplib::Response &res) {
    std::string image = Png();
    if (image.empty()) {
      res.status = 503;
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(image, "image/png");
  });

  s.Get("/state", [this](const httplib::Request &, httplib::Response &res) {
    std::string body;
    {
      std::lock_guard<std::mutex> lock(m);
      body = JsonText({{"state", Json::parse(state)},
                       {"status", Json::parse(status)},
                       {"screen", screenVersion},
                       {"console", console.End()},
                       {"log", log.End()}}) +
             "\n";
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, "application/json");
  });
}

// The events of whatever changed since the stream's last ones, waiting a
// little for a change; false when the view stops. Called under no lock.
bool WebView::Board::NextEvents(Seen &seen, std::string *out)
{
  std::unique_lock<std::mutex> lock(m);
  auto fresh = [&] {
    return stopping || screenVersion != seen.screen || console.End() > seen.console || log.End() > seen.log ||
           statusVersion != seen.status || stateVersion != seen.state;
  };
  changed.wait_for(lock, kPushWait, fresh);
  if (stopping) return false;
  if (screenVersion != seen.screen) {
    seen.screen = screenVersion;
    *out += "event: screen\ndata: " + std::to_string(screenVersion) + "\n\n";
  }
  for (auto [name, text, at] : {std::tuple{"console", &console, &seen.console}, std::tuple{"log", &log, &seen.log}}) {
    if (text->End() <= *at) continue;
    uint64_t from = std::max(*at, text->base);
    std::string part = text->From(from);
    *at = from + part.size();
    *out += std::string("event: ") + name + "\ndata: " + JsonText(part) + "\n\n";
  }
  if (statusVersion != seen.status) {
    seen.status = statusVersion;
    *out += "event: status\ndata: " + status + "\n\n";
  }
  if (stateVersion != seen.state) {
    seen.state = stateVersion;
    *out += "event: state\ndata: " + state + "\n\n";
  }
  return true;
}

// The page's push channel: server-sent events of whatever changed since
// the stream's last event, so a slow or closed tab costs only its thread.
void WebView::Board::EventStream()
{
  server.Get("/events", [this](const httplib::Request &, httplib::Response &res) {
    {
      std::lock_guard<std::mutex> lock(m);
      if (stopping || streams >= kStreamLimit) {
        res.status = 503;
        res.set_content(JsonText({{"error", "too many open pages"}}) + "\n", "application/json");
        return;
      }
      ++streams;
    }
    auto seen = std::make_shared<Seen>();
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](size_t, httplib::DataSink &sink) {
          std::string out;
          if (!NextEvents(*seen, &out)) return false;
          if (out.empty() && Clock::now() - seen->sent < kKeepAliveEvery) return sink.is_writable();
          if (out.empty()) out = ": still here\n\n";  // finds a closed tab
          seen->sent = Clock::now();
          return sink.write(out.data(), out.size());
        },
        [this](bool) {
          std::lock_guard<std::mutex> lock(m);
          --streams;
        });
  });
}

// One command of the page: checked against the fixed lists, then queued
// for the next firmware round.
void WebView::Board::TakeCommand(const httplib::Request &req, httplib::Response &res)
{
  auto accepted = [&] {
    res.status = 202;
    res.set_content(JsonText({{"ok", true}}) + "\n", "application/json");
  };
  auto refuse = [&](int status, const std::string &why) {
    res.status = status;
    res.set_content(JsonText({{"error", why}}) + "\n", "application/json");
  };
  auto queue = [&](Command c) {
    if (Queue(std::move(c))) accepted();
    else refuse(429, "too many commands waiting; try again");
  };
  if (req.path == "/key") {
    dword key = 0;
    if (!req.has_param("name")) return refuse(400, "no key name");
    if (!KeyByName(req.get_param_value("name"), &key)) return refuse(400, "unknown key");
    return queue(Command{CommandKind::Key, key, ""});
  }
  if (req.path == "/start") {
    const std::string name = req.get_param_value("tap");
    auto it = std::find_if(controls.startable.begin(), controls.startable.end(),
                           [&](const std::string &p) { return BaseName(p) == name; });
    if (name.empty() || it == controls.startable.end()) return refuse(404, "no such plug-in to start");
    return queue(Command{CommandKind::Start, 0, *it});
  }
  if (req.path == "/stop") return queue(Command{CommandKind::Stop, 0, ""});
  if (req.path == "/mount") {
    const std::string path = req.get_param_value("path"), present = req.get_param_value("present");
    if (std::find(controls.mounts.begin(), controls.mounts.end(), path) == controls.mounts.end())
      return refuse(404, "no such mount in this run");
    if (present != "0" && present != "1") return refuse(400, "present must be 0 or 1");
    return queue(Command{present == "1" ? CommandKind::Mount : CommandKind::Unmount, 0, path});
  }
  refuse(404, "no such command");
}

void WebView::Board::CommandRoutes()
{
  for (const char *path : {"/key", "/start", "/stop", "/mount"})
    server.Post(path, [this](const httplib::Request &req, httplib::Response &res) { TakeCommand(req, res); });
}

bool WebView::Start(const WebAddress &at, std::string *error)
{
  Board &b = *board_;
  b.Routes();
  int port =
      at.port == 0 ? b.server.bind_to_any_port(at.host) : (b.server.bind_to_port(at.host, at.port) ? at.port : -1);
  if (port <= 0) {
    *error = "cannot listen on " + at.host + ":" + std::to_string(at.port) + " (address in use or not of this host)";
    return false;
  }
  b.server.WidenBacklog(kBacklog);
  b.port = port;
  b.server.AnswerAt(at.host, port);
  b.serving = std::thread([&b] { b.server.listen_after_bind(); });
  return true;
}

void WebView::Stop()
{
  Board &b = *board_;
  {
    std::lock_guard<std::mutex> lock(b.m);
    b.stopping = true;
  }
  b.changed.notify_all();
  if (b.serving.joinable()) {
    b.server.stop();
    b.serving.join();
  }
}

void WebView::Board::Run(Receiver &rx, const Command &c)
{
  switch (c.kind) {
    case CommandKind::Key: rx.PressKey(c.key); break;
    case CommandKind::Stop:
      Notice("stop event to every plug-in");
      rx.SendStop();
      break;
    case CommandKind::Start: {
      const std::vector<PluginRun> runs = rx.PluginRuns();
      if (std::any_of(runs.begin(), runs.end(),
                      [&](const PluginRun &r) { return r.plugin == c.path && r.ending.empty(); })) {
        Notice(c.path + " runs already");
        break;
      }
      std::string why;
      if (rx.Load(c.path, &why) < 0) Notice("cannot start " + c.path + ": " + why);
      else Notice("started " + c.path);
      break;
    }
    case CommandKind::Mount:
    case CommandKind::Unmount: {
      const bool on = c.kind == CommandKind::Mount;
      if (rx.MountPresent(c.path) == on) break;
      const double now = rx.RunSeconds();
      if (on) rx.SetMountTimes(c.path, now, -1);
      else rx.SetMountTimes(c.path, 0, now);
      Notice(std::string(on ? "mounted " : "unmounted ") + c.path);
      break;
    }
  }
}

// A new screen goes out when a sync changed its pixels, at most every 80 ms:
// the page sees a change within a quarter of a second.
void WebView::Board::PublishScreen(Receiver &rx, Clock::time_point now)
{
  if (rx.ScreenSyncs() == lastSyncs || now - lastScreen < kScreenEvery) return;
  lastSyncs = rx.ScreenSyncs();
  lastScreen = now;
  const std::vector<uint32_t> &pixels = rx.Screen();
  {
    std::lock_guard<std::mutex> lock(m);
    if (pixels == screen) return;
    screen = pixels;
    ++screenVersion;
  }
  changed.notify_all();
}

// The log's bytes added since the last read, as the page shows them.
std::string WebView::Board::ReadLogTail(Receiver &rx)
{
  std::string added;
  if (controls.logPath.empty()) return added;
  std::ifstream in(rx.HostPath(controls.logPath), std::ios::binary);
  if (!in) return added;
  in.seekg(0, std::ios::end);
  const uint64_t size = static_cast<uint64_t>(std::max<std::streamoff>(in.tellg(), 0));
  if (size < logRead) logRead = 0;  // a new log: read it from its start
  if (size <= logRead) return added;
  added.resize(static_cast<size_t>(std::min(size - logRead, kLogReadLimit)));
  in.seekg(static_cast<std::streamoff>(logRead));
  in.read(added.data(), static_cast<std::streamsize>(added.size()));
  added.resize(static_cast<size_t>(in.gcount()));
  logRead += added.size();
  added.erase(std::remove(added.begin(), added.end(), '\r'), added.end());
  return TerminalTextAsUtf8(added);
}

// The run's state for the page: its time, the plug-ins loaded, those the
// page may start and the mounts.
std::string WebView::Board::StateJson(Receiver &rx) const
{
  std::vector<std::string> plugins, startable;
  for (const PluginRun &r : rx.PluginRuns())
    if (r.ending.empty()) plugins.push_back(r.plugin);
  for (const std::string &p : controls.startable) startable.push_back(BaseName(p));
  Json mounts = Json::array();
  for (const std::string &m : controls.mounts) mounts.push_back({{"path", m}, {"present", rx.MountPresent(m)}});
  return JsonText({{"seconds", static_cast<long long>(rx.RunSeconds())},
                   {"plugins", plugins},
                   {"startable", startable},
                   {"mounts", mounts}});
}

// The runs as the log tells them: a "Ferrox ... started" line forgets the
// last run's summary, a "Summary: " line is the new one.
void WebView::Board::FollowRuns(const std::string &added)
{
  logLine += added;
  size_t from = 0;
  for (size_t end; (end = logLine.find('\n', from)) != std::string::npos; from = end + 1) {
    const std::string line = logLine.substr(from, end - from);
    const std::string found = SummaryOfLine(line);
    if (!found.empty()) summary = found;
    else if (IsRunStartLine(line)) summary.clear();
  }
  logLine.erase(0, from);
  if (logLine.size() > 4096) logLine.clear();  // no line is that long: not a log of the service's
}

// The status pane's object: whether the service runs and answers, its
// state, the recording (name, size, percent, rate, n of m) and the last
// run's summary.
std::string WebView::Board::StatusJson() const
{
  Json o = {{"running", answer.sent}};
  if (answer.sent) {
    const bool answered = answer.channelStatus == TAPCOM_STATUS_FINISHED;
    o["answered"] = answered;
    if (answered) {
      const FerroxStatusReply &r = answer.reply;
      const char *words = StatusStateWords(r.State);
      const std::string name(r.DestFileName, strnlen(r.DestFileName, sizeof r.DestFileName));
      o["state"] = r.State;
      o["words"] = words ? std::string(words) : "state " + std::to_string(r.State);
      o["file"] = TerminalTextAsUtf8(name);
      o["bytes"] = static_cast<long long>(r.TotalBytes);
      o["perMinute"] = static_cast<long long>(r.BytesPerMinute);
      o["percent"] = r.Percent;
      o["entry"] = r.CurrentEntry;
      o["entries"] = r.NrOfEntries;
    }
  }
  o["summary"] = summary;
  return JsonText(o);
}

// Twice a second: the log's new bytes, the plug-ins and mounts, and (every
// statusEvery seconds) the copy service's status reply.
void WebView::Board::PublishSlow(Receiver &rx, Clock::time_point now)
{
  if (now - lastSlow < kSlowEvery) return;
  lastSlow = now;
  const std::string added = ReadLogTail(rx);
  FollowRuns(added);
  const std::string js = StateJson(rx);
  if (controls.status && now - lastStatus >= std::chrono::duration<double>(controls.statusEvery)) {
    lastStatus = now;
    answer = controls.status(rx);
  }
  const std::string reply = StatusJson();
  {
    std::lock_guard<std::mutex> lock(m);
    if (!added.empty()) log.Append(added.data(), added.size());
    if (js != state) {
      state = js;
      ++stateVersion;
    }
    if (reply != status) {
      status = reply;
      ++statusVersion;
    }
  }
  changed.notify_all();
}

void WebView::Pump(Receiver &rx)
{
  Board &b = *board_;
  std::deque<Command> todo;
  {
    std::lock_guard<std::mutex> lock(b.m);
    todo.swap(b.commands);
  }
  for (const Command &c : todo) b.Run(rx, c);
  const Clock::time_point now = Clock::now();
  b.PublishScreen(rx, now);
  b.PublishSlow(rx, now);
}

}  // namespace sim
