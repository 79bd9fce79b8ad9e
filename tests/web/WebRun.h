// WebRun.h -- a `receiver --web` run in the background for the web view's
// tests: started on a free loopback port, asked over HTTP, ended with the
// termination signal as Ctrl-C would end it.
#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class WebRun {
 public:
  WebRun() = default;
  ~WebRun();  // ends a run that is still going
  WebRun(const WebRun &) = delete;
  WebRun &operator=(const WebRun &) = delete;

  // Starts the receiver program with these arguments and --web 127.0.0.1:0,
  // its output in `outDir`; false with a reason when no address appears.
  bool Start(const std::vector<std::string> &args, const fs::path &outDir, std::string *why);
  int port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // A client that sends what the page sends: this view's Host, its Origin
  // and the run's token.
  httplib::Client Client() const;
  // One without the page's Origin and token, as any other program.
  httplib::Client BareClient() const;
  const std::string &Token() const { return token_; }
  // SIGTERM, then the exit status (-1 when it had to be killed).
  int Stop();
  std::string Output() const;  // standard output and error so far
  bool Running();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  int port_ = 0;
  std::string token_;  // the run's command token, as the page has it
  fs::path out_, err_;
};

// Polls `done` every 50 ms for up to `seconds`; whether it came true.
bool WaitUntil(const std::function<bool()> &done, double seconds);
// A POST with an empty body, as the page sends its commands; the status or -1.
int Post(httplib::Client &client, const std::string &path);
std::string ReadWholeFile(const fs::path &file);
