// WebGuard.cpp -- see WebGuard.h.
#include "WebGuard.h"
#include "WebJson.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// The address and port of one end of a connection, IPv4-mapped IPv6
// addresses as plain IPv4 so that one client counts as one.
void Address(int sock, bool peer, std::string *ip, int *port)
{
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  ip->clear();
  *port = 0;
  if ((peer ? getpeername(sock, reinterpret_cast<sockaddr *>(&a), &len)
            : getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len)) != 0)
    return;
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(a);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    *port = ntohs(v4.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    else inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    *port = ntohs(v6.sin6_port);
  }
  *ip = text;
}

// A request that has come whole, read by the server from memory; the reply
// goes out on the socket.
class WholeRequestStream : public httplib::Stream {
 public:
  WholeRequestStream(int sock, std::string request, int writeMs)
      : sock_(sock), request_(std::move(request)), writeMs_(writeMs)
  {
  }
  bool is_readable() const override { return at_ < request_.size(); }
  // Writable, and the client still there: a client that has hung up (a
  // closed tab on a pushed stream) ends its reply at once.
  bool is_writable() const override
  {
    pollfd p{sock_, POLLOUT | POLLRDHUP, 0};
    return poll(&p, 1, writeMs_) > 0 && (p.revents & (POLLERR | POLLHUP | POLLRDHUP)) == 0 &&
           (p.revents & POLLOUT) != 0;
  }
  ssize_t read(char *ptr, size_t size) override
  {
    const size_t n = std::min(size, request_.size() - at_);
    std::memcpy(ptr, request_.data() + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);  // 0 after the request: there is no more
  }
  ssize_t write(const char *ptr, size_t size) override { return send(sock_, ptr, size, MSG_NOSIGNAL); }
  void get_remote_ip_and_port(std::string &ip, int &port) const override { Address(sock_, true, &ip, &port); }
  void get_local_ip_and_port(std::string &ip, int &port) const override { Address(sock_, false, &ip, &port); }
  socket_t socket() const override { return sock_; }

 private:
  int sock_;
  std::string request_;
  size_t at_ = 0;
  int writeMs_;
};

struct Verdict {
  int status = 0;  // 0: the request is whole; else the answer to give (or -1: none, the client left)
  const char *why = "";
};

// The value of a header in a request head (name in any case), or npos.
size_t HeaderValue(const std::string &head, const char *name, std::string *value)
{
  const size_t n = std::strlen(name);
  for (size_t at = head.find("\r\n"); at != std::string::npos && at + 2 < head.size(); at = head.find("\r\n", at + 2)) {
    const size_t line = at + 2;
    if (head.size() - line <= n || head[line + n] != ':') continue;
    if (!std::equal(name, name + n, head.begin() + static_cast<long>(line), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      continue;
    size_t from = line + n + 1, to = head.find("\r\n", from);
    *value = head.substr(from, to - from);
    value->erase(0, value->find_first_not_of(" \t"));
    value->erase(value->find_last_not_of(" \t") + 1);
    return line;
  }
  return std::string::npos;
}

// Reads the request head and its body (by its Content-Length) within the
// deadline; what came is in `request`.
Verdict ReadWholeRequest(int sock, const WebGuardLimits &limits, std::string *request)
{
  const Clock::time_point deadline = Clock::now() + limits.wholeRequestWithin;
  size_t need = 0;  // the whole request's length, once its head is known
  char buf[4096];
  for (;;) {
    if (need == 0) {
      const size_t end = request->find("\r\n\r\n");
      if (end == std::string::npos && request->size() > limits.headLimit) return {431, "the request head is too long"};
      if (end != std::string::npos) {
        const std::string head = request->substr(0, end + 2);
        std::string value;
        if (HeaderValue(head, "Transfer-Encoding", &value) != std::string::npos)
          return {411, "a request body needs a Content-Length"};
        size_t length = 0;
        if (HeaderValue(head, "Content-Length", &value) != std::string::npos) {
          if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
            return {400, "a bad Content-Length"};
          length = std::stoul(value);
        }
        if (length > limits.bodyLimit) return {413, "the request body is too long"};
        need = end + 4 + length;
      }
    }
    if (need != 0 && request->size() >= need) {
      request->resize(need);  // one request a connection: what follows is not read
      return {};
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{sock, POLLIN, 0};
    // A connection that sent nothing at all is closed without a word: a
    // browser opens such connections ahead of its requests, and would take
    // a 408 written there for the answer to the request it sends later.
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
      return request->empty() ? Verdict{-1, ""} : Verdict{408, "the request did not come whole within a few seconds"};
    const ssize_t n = recv(sock, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return {-1, ""};
    if (n > 0) request->append(buf, static_cast<size_t>(n));
  }
}

// A short answer of the guard's own, without waiting for a slow reader.
void Answer(int sock, int status, const char *why)
{
  const char *reason = status == 408   ? "Request Timeout"
                       : status == 411 ? "Length Required"
                       : status == 413 ? "Payload Too Large"
                       : status == 431 ? "Request Header Fields Too Large"
                       : status == 503 ? "Service Unavailable"
                                       : "Bad Request";
  const std::string body = JsonText({{"error", why}}) + "\n";
  const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                            "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\nConnection: close\r\n\r\n" + body;
  (void)send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

void GuardedServer::WidenBacklog(int connections)
{
  if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, connections);  // a second listen sets the queue's length
}

void GuardedServer::RefuseStrangers(const std::string &token)
{
  token_ = token;
  set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
    const std::string why = Refusal(req);
    if (why.empty()) return httplib::Server::HandlerResponse::Unhandled;
    res.status = 403;
    res.set_content(JsonText({{"error", why}}) + "\n", "application/json");
    return httplib::Server::HandlerResponse::Handled;
  });
}

void GuardedServer::AnswerAt(const std::string &boundHost, int port)
{
  boundHost_ = boundHost;
  port_ = port;
}

// Is the Host header one this view answers to: its own address, or the
// loopback names, with its port? A name a stranger's page can point at this
// machine (DNS rebinding) is none of them.
bool GuardedServer::HostAllowed(const std::string &host) const
{
  const std::string port = ":" + std::to_string(port_.load());
  if (host.size() <= port.size() || host.compare(host.size() - port.size(), port.size(), port) != 0) return false;
  const std::string name = host.substr(0, host.size() - port.size());
  if (name == "localhost" || name == "127.0.0.1" || name == "[::1]") return true;
  const std::string bound = boundHost_.find(':') != std::string::npos ? "[" + boundHost_ + "]" : boundHost_;
  if (bound == "0.0.0.0" || bound == "[::]") {
    // every address of this machine: an address, never a name
    return name.find_first_not_of("0123456789.") == std::string::npos ||
           (name.size() > 2 && name.front() == '[' && name.back() == ']' &&
            name.find_first_not_of("0123456789abcdefABCDEF:.", 1) == name.size() - 1);
  }
  return name == bound;
}

// Why the request is refused, or "": a foreign Host for every path; for a
// command also a missing or foreign Origin and a missing or wrong token.
std::string GuardedServer::Refusal(const httplib::Request &req) const
{
  const std::string host = req.get_header_value("Host");
  if (!HostAllowed(host)) return "this view answers only to its own address, not to \"" + host + "\"";
  if (req.method != "POST") return "";
  const std::string origin = req.get_header_value("Origin");
  if (origin.empty()) return "a command needs the Origin of the page";
  if (origin != "http://" + host) return "a command from another page (" + origin + ") is refused";
  if (req.get_header_value("X-Ferrox-Token") != token_) return "a command needs this run's token, which the page has";
  return "";
}

bool GuardedServer::Admit(const std::string &client)
{
  std::lock_guard<std::mutex> lock(m_);
  int &open = open_[client];
  if (open >= limits_.perClient) return false;
  ++open;
  return true;
}

void GuardedServer::Leave(const std::string &client)
{
  std::lock_guard<std::mutex> lock(m_);
  auto it = open_.find(client);
  if (it != open_.end() && --it->second <= 0) open_.erase(it);
}

// One connection: admitted by its client's count, its request read whole
// within the deadline, then served and closed.
bool GuardedServer::process_and_close_socket(socket_t sock)
{
  std::string client;
  int port = 0;
  Address(sock, true, &client, &port);
  const int writeMs = static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000);
  timeval tv{static_cast<time_t>(write_timeout_sec_), static_cast<suseconds_t>(write_timeout_usec_)};
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  bool served = false;
  if (!Admit(client)) {
    ++refused_;
    Answer(sock, 503, "too many requests coming in from this address");
  } else {
    // what counts against the address is a request still coming in: once
    // it is whole the client waits for its answer like any other (a pushed
    // stream may last long; the view limits those on its own)
    std::string request;
    const Verdict v = ReadWholeRequest(sock, limits_, &request);
    Leave(client);
    if (v.status == 0) {
      WholeRequestStream stream(sock, std::move(request), writeMs);
      bool closed = false;
      served = process_request(stream, true, closed, nullptr);
    } else {
      ++refused_;
      if (v.status > 0) Answer(sock, v.status, v.why);
    }
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return served;
}

}  // namespace sim
