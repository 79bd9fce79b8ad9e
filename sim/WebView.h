// WebView.h -- the virtual receiver in a web browser (`receiver --web`).
//
// A small HTTP server on its own threads serves one page: the live TV
// screen, a remote control, the console, the service log, the status reply
// of the copy service and buttons that start plug-ins, send the stop event
// and mount or unmount the run's shares and drives.
//
// The firmware rounds never wait on a browser: the main thread hands copies
// of what changed (screen pixels, console text, log text, status, state) to
// a shared board under a short lock, once per round at most, and takes the
// page's commands (keys, starts, stops, mounts) from a bounded queue. The
// server threads encode, push (server-sent events) and answer from the
// board alone. Only fixed resources are served; no request names a host
// file, and every parameter is checked against a fixed list.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Receiver.h"
#include "StatusRequester.h"

namespace sim {

struct WebAddress {
  std::string host = "127.0.0.1";  // loopback unless another address is given
  int port = 0;                    // 0: any free port
};

// "[ADDR:]PORT"; false for anything else (a port above 65535, no port, ...).
bool ParseWebAddress(const std::string &text, WebAddress *out);

struct WebControls {
  // Receiver paths of the plug-in files the page may start ("/mnt/hd/
  // ProgramFiles/Ferrox.tap", ...); the page names them by file name.
  std::vector<std::string> startable;
  // Receiver paths of the run's mount table, which the page may mount and
  // unmount.
  std::vector<std::string> mounts;
  // A log file of the receiver to show as it grows ("" for none); its last
  // "Summary: " line shows in the status pane until the next "started".
  std::string logPath;
  // The copy service's status reply for the status pane: asked on the main
  // thread every statusEvery seconds (none: no status).
  std::function<StatusAnswer(Receiver &)> status;
  double statusEvery = 1.0;
};

class WebView {
 public:
  explicit WebView(WebControls controls);
  ~WebView();  // stops the server
  WebView(const WebView &) = delete;
  WebView &operator=(const WebView &) = delete;

  // The stream to give the receiver as its console echo: what plug-ins write
  // to their terminals goes to the page and on to `forward` (may be null).
  std::ostream *Console(std::ostream *forward);

  // Binds and starts serving; false with a reason. Port() is the bound port.
  bool Start(const WebAddress &at, std::string *error);
  int Port() const;
  void Stop();

  // Once per firmware round on the main thread (a driver of the run): runs
  // the page's commands and publishes what changed.
  void Pump(Receiver &rx);

  // Requests served and refused so far (for the end of the run).
  uint64_t Requests() const;

  struct Board;

 private:
  std::unique_ptr<Board> board_;
};

// The page's files, built into the simulator.
extern const char kWebPageHtml[];
extern const char kWebPageJs[];
extern const char kWebPageCss[];

}  // namespace sim
