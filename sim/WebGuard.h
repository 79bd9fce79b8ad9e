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
//
// It also refuses, with 403 before any route, a request from a stranger: a
// Host that is not the view's own address (a name a stranger's page points
// at this machine), and for a command (POST) a missing or foreign Origin
// or a missing or wrong token of the run.
//
// The guard reaches into the library where its public interface has no
// place for it: it overrides process_and_close_socket, serves the whole
// request through process_request, and reads svr_sock_ and the write
// timeout. WebGuardTest pins the library version it was checked against.
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
  // Every request is checked before routing: a stranger's gets 403 with
  // the reason. token: what a command carries in X-Ferrox-Token.
  void RefuseStrangers(const std::string &token);
  // The address and port the server answers to, once bound.
  void AnswerAt(const std::string &boundHost, int port);
  // Why the request is refused, or "".
  std::string Refusal(const httplib::Request &req) const;

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Admit(const std::string &client);
  bool HostAllowed(const std::string &host) const;
  void Leave(const std::string &client);

  WebGuardLimits limits_;
  std::mutex m_;
  std::map<std::string, int> open_;  // requests still coming in, by client address
  std::atomic<uint64_t> refused_{0};
  std::string token_;         // a command's token
  std::string boundHost_;     // the address bound to ("0.0.0.0" for every one)
  std::atomic<int> port_{0};  // the port bound to
};

}  // namespace sim
