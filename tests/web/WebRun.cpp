// WebRun.cpp -- the background receiver of the web view's tests.
#include "WebRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "HostPrograms.h"
#include "SimFixture.h"

extern char **environ;

std::string ReadWholeFile(const fs::path &file)
{
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WaitUntil(const std::function<bool()> &done, double seconds)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

int Post(httplib::Client &client, const std::string &path)
{
  auto r = client.Post(path.c_str(), "", "application/x-www-form-urlencoded");
  return r ? r->status : -1;
}

bool WebRun::Start(const std::vector<std::string> &args, const fs::path &outDir, std::string *why)
{
  out_ = outDir / "web-stdout";
  err_ = outDir / "web-stderr";
  std::vector<std::string> all = args;
  all.insert(all.begin(), {"--web", "127.0.0.1:0"});
  fs::remove(out_);
  fs::remove(err_);
  pid_ = StartProgram(ReceiverCommandLine(all), out_, err_);
  if (pid_ < 0) {
    pid_ = -1;
    *why = "cannot start the receiver program";
    return false;
  }
  static const std::regex address("web view at http://127\\.0\\.0\\.1:([0-9]+)/");
  std::smatch m;
  bool found = WaitUntil(
      [&] {
        std::string out = ReadWholeFile(out_);
        if (std::regex_search(out, m, address)) {
          port_ = std::stoi(m[1]);
          return true;
        }
        return !Running();
      },
      30);
  if (port_ == 0) *why = (found ? "the receiver ended early: " : "no web address printed: ") + Output();
  if (port_ != 0) {
    auto page = BareClient().Get("/");
    std::smatch t;
    const std::string body = page ? page->body : "";
    if (std::regex_search(body, t, std::regex("name=\"ferrox-token\" content=\"([0-9a-f]+)\""))) token_ = t[1];
  }
  return port_ != 0;
}

bool WebRun::Running()
{
  if (pid_ < 0 || reaped_) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = status;
  }
  return r == 0;
}

httplib::Client WebRun::BareClient() const
{
  httplib::Client c("127.0.0.1", port_);
  c.set_connection_timeout(5, 0);
  c.set_read_timeout(10, 0);
  return c;
}

httplib::Client WebRun::Client() const
{
  httplib::Client c = BareClient();
  c.set_default_headers({{"Origin", "http://127.0.0.1:" + std::to_string(port_)}, {"X-Ferrox-Token", token_}});
  return c;
}

int WebRun::Stop()
{
  if (pid_ < 0) return -1;
  if (!reaped_) kill(pid_, SIGTERM);
  bool ended = WaitUntil([&] { return !Running(); }, 30);
  int status = status_;
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WebRun::Output() const { return ReadWholeFile(out_) + ReadWholeFile(err_); }

WebRun::~WebRun()
{
  if (pid_ >= 0) Stop();
}
