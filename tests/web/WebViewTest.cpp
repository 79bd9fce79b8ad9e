// WebViewTest.cpp -- `receiver --web` over HTTP: what is served and what is
// refused, the setup and the copy service driven from the page's requests,
// and many clients at once while a copy runs.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "Cli.h"
#include "ScenarioFixture.h"
#include "WebRun.h"
#include "WebView.h"

namespace {

TEST(WebAddressTest, PortWithOrWithoutAnAddress)
{
  struct Case {
    const char *text;
    bool ok;
    const char *host;
    int port;
  } cases[] = {{"8080", true, "127.0.0.1", 8080}, {"0", true, "127.0.0.1", 0},
               {"0.0.0.0:80", true, "0.0.0.0", 80}, {"[::1]:9000", true, "::1", 9000},
               {"65535", true, "127.0.0.1", 65535}, {"65536", false, "", 0},
               {"", false, "", 0}, {":80", false, "", 0}, {"host:", false, "", 0},
               {"80x", false, "", 0}, {"-1", false, "", 0}, {"999999", false, "", 0}};
  for (const Case &c : cases) {
    sim::WebAddress a;
    EXPECT_EQ(sim::ParseWebAddress(c.text, &a), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(a.host, c.host) << c.text;
      EXPECT_EQ(a.port, c.port) << c.text;
    }
  }
}

TEST(WebCommandLineTest, BadWebOptionsAreRefused)
{
  TempDir tmp;
  const std::string root = (tmp.path / "root").string();
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"--root", root, "--web", "70000"},
           {"--root", root, "--web", "0", "--clock", "virtual"},
           {"--root", root, "--web", "not-a-port"}}) {
    RunResult r = RunReceiver(args);
    EXPECT_EQ(r.exitCode, 2) << args[3] << r.err;
    EXPECT_NE(r.err.find("receiver: "), std::string::npos) << r.err;
  }
}

class WebViewTest : public ScenarioTest {
 protected:
  WebRun web;
  void Start(std::vector<std::string> extra = {})
  {
    std::vector<std::string> args = {"--root", root.string(), "--quiet", "--mount",
                                     std::string(kNASShare) + "=" + share.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string why;
    ASSERT_TRUE(web.Start(args, root.parent_path(), &why)) << why;
  }
  std::string Get(const std::string &path, int *status = nullptr)
  {
    httplib::Client c = web.Client();
    auto r = c.Get(path.c_str());
    if (status) *status = r ? r->status : -1;
    return r ? r->body : "";
  }
  std::string State() { return Get("/state"); }
  long ScreenVersion()
  {
    std::smatch m;
    std::string s = State();
    return std::regex_search(s, m, std::regex("\"screen\":([0-9]+)")) ? std::stol(m[1]) : -1;
  }
};

TEST_F(WebViewTest, OnlyThePageIsServedAndBadRequestsLeaveTheRunGoing)
{
  WriteFile(std::string(kFerroxFolder) + "/Ferrox.ini", "MoveDir=/secret\r\n");
  Start();
  struct Case {
    const char *method, *path;
    int status;
    const char *contains;
  } cases[] = {
      {"GET", "/", 200, "remote control"},
      {"GET", "/receiver.js", 200, "EventSource"},
      {"GET", "/receiver.css", 200, ".remote"},
      {"GET", "/screen.png", 200, "\x89PNG"},
      {"GET", "/state", 200, "\"startable\":[\"Ferrox.tap\",\"FerroxSetup.tap\"]"},
      // nothing of the receiver root or the host is reachable by path
      {"GET", "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini", 404, ""},
      {"GET", "/../../../../etc/passwd", 404, ""},
      {"GET", "/%2e%2e/%2e%2e/etc/passwd", 404, ""},
      {"GET", "/index.html/../Ferrox.ini", 404, ""},
      {"GET", "/key?name=Ok", 404, ""},
      // commands: only the fixed names
      {"POST", "/key", 400, "no key name"},
      {"POST", "/key?name=Power", 400, "unknown key"},
      {"POST", "/key?name=Ok%00", 400, "unknown key"},
      {"POST", "/start?tap=../../bin/sh", 404, "no such plug-in"},
      {"POST", "/start?tap=Ferrox.tap;reboot", 404, "no such plug-in"},
      {"POST", "/start?tap=/mnt/hd/ProgramFiles/Ferrox.tap", 404, "no such plug-in"},
      {"POST", "/mount?path=/etc&present=1", 404, "no such mount"},
      {"POST", "/mount?path=/mnt/hd/DataFiles/NAS-Share&present=yes", 400, "present must be"},
      {"POST", "/mount?path=/mnt/hd/DataFiles/NAS-Share", 400, "present must be"},
      {"POST", "/reboot", 404, ""},
      {"DELETE", "/state", 404, ""},
  };
  httplib::Client c = web.Client();
  for (const Case &k : cases) {
    httplib::Result r = std::string(k.method) == "GET"    ? c.Get(k.path)
                        : std::string(k.method) == "POST" ? c.Post(k.path, "", "text/plain")
                                                          : c.Delete(k.path);
    ASSERT_TRUE(r) << k.method << " " << k.path;
    EXPECT_EQ(r->status, k.status) << k.method << " " << k.path << ": " << r->body;
    EXPECT_NE(r->body.find(k.contains), std::string::npos) << k.path << ": " << r->body.substr(0, 200);
    EXPECT_EQ(r->body.find("/secret"), std::string::npos) << k.path;
  }
  // a body over the limit, a URI far too long, a request that is no HTTP
  auto big = c.Post("/key?name=Ok", std::string(64 * 1024, 'x'), "text/plain");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->status, 413);
  auto longUri = c.Get(("/state?" + std::string(20000, 'a')).c_str());
  EXPECT_TRUE(!longUri || longUri->status >= 400) << "a long request is refused";
  {
    httplib::Client raw = web.Client();
    raw.set_read_timeout(2, 0);
    auto junk = raw.Get("/\r\n\r\nGARBAGE / HTTP/9.9");
    EXPECT_TRUE(!junk || junk->status >= 400);
  }
  // the run went on through all of it and ends as asked
  const std::string before = State();
  EXPECT_TRUE(WaitUntil([&] { return State() != before; }, 10)) << "the run time moves on";
  EXPECT_EQ(web.Stop(), 0) << web.Output();
  EXPECT_NE(web.Output().find("receiver: web view closed after "), std::string::npos) << web.Output();
}

TEST_F(WebViewTest, TheSetupStartedFromThePageSavesWhatItsKeysChose)
{
  fs::create_directories(Host(kMoveToNAS));
  fs::create_directories(share);
  WriteShareSettings({"CopySpeed=2"});
  InstallTap("FerroxSetup.tap");
  Start();
  const long blank = ScreenVersion();
  httplib::Client c = web.Client();
  ASSERT_EQ(Post(c, "/start?tap=FerroxSetup.tap"), 202);
  ASSERT_TRUE(WaitUntil([&] { return ScreenVersion() > blank; }, 20)) << "the menu shows: " << web.Output();
  const std::string running = "\"plugins\":[\"/mnt/hd/ProgramFiles/FerroxSetup.tap\"]";
  ASSERT_TRUE(WaitUntil([&] { return State().find(running) != std::string::npos; }, 5)) << State();
  // a second start while it runs is only a notice
  EXPECT_EQ(Post(c, "/start?tap=FerroxSetup.tap"), 202);
  ASSERT_TRUE(WaitUntil([&] { return web.Output().find("FerroxSetup.tap runs already") != std::string::npos; }, 10))
      << web.Output();
  const long menu = ScreenVersion();
  const std::string menuPng = Get("/screen.png");
  ASSERT_EQ(Post(c, "/key?name=Right"), 202);  // the speed one step up
  ASSERT_TRUE(WaitUntil([&] { return ScreenVersion() > menu; }, 5)) << "the key changed the menu";
  EXPECT_NE(Get("/screen.png"), menuPng);
  ASSERT_EQ(Post(c, "/key?name=Green"), 202);  // save and leave
  std::string ini;
  EXPECT_TRUE(WaitUntil([&] {
    ini = ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini");
    return ini.find("CopySpeed=3\r\n") != std::string::npos;
  }, 10)) << "one step up from 2: " << ini;
  ASSERT_TRUE(WaitUntil([&] { return State().find("\"plugins\":[]") != std::string::npos; }, 10)) << State();
  EXPECT_EQ(web.Stop(), 0) << web.Output();
  EXPECT_NE(web.Output().find("receiver: web: started /mnt/hd/ProgramFiles/FerroxSetup.tap"), std::string::npos);
  EXPECT_NE(web.Output().find("FerroxSetup.tap runs already"), std::string::npos) << web.Output();
}

// A copy run started from the page while a crowd of clients polls, pushed
// streams open and close (some in the middle of a push) and keys arrive ten
// times a second: every byte arrives, the status reply and the log reach
// the page, and the receiver ends cleanly.
TEST_F(WebViewTest, CopyRunFromThePageUnderManyClientsCopiesEveryByte)
{
  const time_t day = LocalTime(2015, 12, 19, 20, 15);
  WriteRecording(std::string(kMoveToNAS) + "/Tatort.rec", 3 << 20, 7, day);
  WriteRecording(std::string(kMoveToNAS) + "/Serie/Folge 1.rec", 2 << 20, 8, day + 60);
  fs::create_directories(share);
  WriteShareSettings({"NASBootTime=0"});
  InstallTap("Ferrox.tap");
  Start();
  httplib::Client c = web.Client();
  ASSERT_EQ(Post(c, "/start?tap=Ferrox.tap"), 202);

  std::atomic<bool> done{false};
  std::atomic<int> failures{0}, answered{0};
  std::vector<std::thread> crowd;
  for (int i = 0; i < 8; ++i)
    crowd.emplace_back([&, i] {
      httplib::Client p = web.Client();
      while (!done) {
        auto r = p.Get(i % 2 ? "/state" : "/screen.png");
        if (!r || r->status != 200) ++failures;
        else ++answered;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  for (int i = 0; i < 6; ++i)
    crowd.emplace_back([&, i] {
      while (!done) {
        httplib::Client s = web.Client();
        size_t got = 0;
        // read a little of the stream, then hang up in the middle of it
        s.Get("/events", [&](const char *, size_t n) {
          got += n;
          return !done && got < static_cast<size_t>(500 * (i + 1));
        });
      }
    });
  crowd.emplace_back([&] {
    httplib::Client k = web.Client();
    const char *keys[] = {"Up", "Down", "1", "Menu", "Exit"};
    for (int n = 0; !done; ++n) {
      int status = Post(k, std::string("/key?name=") + keys[n % 5]);
      if (status != 202 && status != 429) ++failures;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  std::string seenStatus;
  bool loaded = false;
  const bool finished = WaitUntil(
      [&] {
        std::string s = State();
        if (s.find("entry ") != std::string::npos) seenStatus = s;
        loaded = loaded || s.find("\"plugins\":[\"/mnt/hd/ProgramFiles/Ferrox.tap\"]") != std::string::npos;
        return loaded && s.find("\"plugins\":[]") != std::string::npos;
      },
      120);
  done = true;
  for (std::thread &t : crowd) t.join();
  ASSERT_TRUE(finished) << State() << web.Output();
  EXPECT_NE(seenStatus.find("%"), std::string::npos) << "the status reply reached the page: " << seenStatus;
  EXPECT_EQ(failures, 0);
  EXPECT_GT(answered, 20);
  for (const char *f : {"Tatort.rec", "Serie/Folge 1.rec"})
    EXPECT_TRUE(ReadHostFile(share / f) == ReadFile(std::string(kMoveToNAS) + "/" + f)) << f;
  std::string events;
  httplib::Client s = web.Client();
  s.Get("/events", [&](const char *p, size_t n) {
    events.append(p, n);
    return events.find("event: log") == std::string::npos || events.find("event: console") == std::string::npos;
  });
  EXPECT_NE(events.find("Summary: "), std::string::npos) << "log and console reach a new page: " << events.substr(0, 300);
  EXPECT_EQ(web.Stop(), 0) << web.Output();
  EXPECT_EQ(web.Output().find("receiver: error:"), std::string::npos) << web.Output();
}

}  // namespace
