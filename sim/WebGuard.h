// WebGuard.h -- the web view's HTTP server with a guard on every connection.
//
// cpp-httplib gives each connection a thread and reads it at the client's
// pace, so a few hundred connections that send half a request (or nothing)
// hold every thread and silence the view. This server takes a connection
// only while its client has fewer than a handful of requests still coming
// in, waits a few seconds at most for the whole request (head and body),
// and hands the server a request that is complete: one request per
// connection, a slow or idle client costs its thread for those seconds and
// no more.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace sim {

struct WebGuardLimits {
  int perClient = 24;                                  // requests of one address coming in at once
  std::chrono::milliseconds wholeRequestWithin{3000};  // from the connection to the request's last byte
  size_t headLimit = 16 * 1024;                        // bytes of the request line and headers
  size_t bodyLimit = 4096;                             // bytes of a request body
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const WebGuardLimits &limits = {}) : limits_(limits) {}
  // connections cut or refused by the guard so far
  uint64_t Refused() const { return refused_; }
  // After the bind: a longer queue of connections waiting to be taken than
  // the server's few, so that a burst of connections is taken and judged
  // instead of left to the clients' retries of a second and more.
  void WidenBacklog(int connections);

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Admit(const std::string &client);
  void Leave(const std::string &client);

  WebGuardLimits limits_;
  std::mutex m_;
  std::map<std::string, int> open_;  // requests still coming in, by client address
  std::atomic<uint64_t> refused_{0};
};

}  // namespace sim
