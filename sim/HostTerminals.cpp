// HostTerminals.cpp -- real pseudo-terminals read on a thread of their own.
#include "HostTerminals.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "Receiver.h"

namespace sim {

namespace {

constexpr int kTriesPerNumber = 4;  // numbers handed out before the one wanted is given up

struct Terminal {
  int number = -1;  // N of /dev/pts/N
  int master = -1;  // read by the thread
  int slave = -1;   // kept open, so that the master never sees a hang-up
};

// The next pseudo-terminal the kernel hands out, in raw mode (no CR added
// to the plug-ins' line ends); number -1 when none can be had.
Terminal OpenOne()
{
  Terminal t;
  t.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (t.master < 0) return t;
  const char *name = grantpt(t.master) == 0 && unlockpt(t.master) == 0 ? ptsname(t.master) : nullptr;
  if (name != nullptr) t.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (t.slave < 0 || std::strncmp(name, "/dev/pts/", 9) != 0) {
    close(t.master);
    if (t.slave >= 0) close(t.slave);
    return Terminal{};
  }
  struct termios raw;
  if (tcgetattr(t.slave, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(t.slave, TCSANOW, &raw);
  }
  t.number = std::atoi(name + 9);
  return t;
}

void CloseOne(const Terminal &t)
{
  if (t.master >= 0) close(t.master);
  if (t.slave >= 0) close(t.slave);
}

}  // namespace

struct HostTerminals::State {
  std::vector<Terminal> terminals;
  std::mutex lock;
  std::vector<std::pair<int, std::string>> arrived;  // in the order read
  std::atomic<bool> stop{false};
  std::thread reader;

  void Read()
  {
    std::vector<pollfd> fds;
    for (const Terminal &t : terminals) fds.push_back({t.master, POLLIN, 0});
    char buf[4096];
    while (!stop) {
      if (poll(fds.data(), fds.size(), 50) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & POLLIN) == 0) continue;
        ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) continue;
        std::lock_guard<std::mutex> hold(lock);
        arrived.emplace_back(terminals[i].number, std::string(buf, static_cast<size_t>(n)));
      }
    }
  }
};

HostTerminals::HostTerminals(const std::vector<int> &wanted, std::string *warning) : state_(new State)
{
  // the kernel hands out the lowest free number: open until each wanted
  // number came or too many others did; the others are closed again
  std::vector<Terminal> others;
  std::map<int, bool> want;
  for (int n : wanted) want[n] = true;
  size_t tries = wanted.size() * kTriesPerNumber + 2;
  while (state_->terminals.size() < want.size() && tries-- > 0) {
    Terminal t = OpenOne();
    if (t.number < 0) break;
    if (want.count(t.number) != 0) state_->terminals.push_back(t);
    else others.push_back(t);
  }
  for (const Terminal &t : others) CloseOne(t);
  std::string missing;
  for (const auto &w : want) {
    bool open = false;
    for (const Terminal &t : state_->terminals) open = open || t.number == w.first;
    if (!open) missing += (missing.empty() ? "/dev/pts/" : ", /dev/pts/") + std::to_string(w.first);
  }
  if (!missing.empty())
    *warning = "the pseudo-terminal(s) " + missing +
               " could not be opened (taken, or no devpts mounted at /dev/pts): plug-ins' lines there are not shown";
  if (!state_->terminals.empty()) state_->reader = std::thread([s = state_.get()] { s->Read(); });
}

HostTerminals::~HostTerminals()
{
  state_->stop = true;
  if (state_->reader.joinable()) state_->reader.join();
  for (const Terminal &t : state_->terminals) CloseOne(t);
}

std::vector<int> HostTerminals::Open() const
{
  std::vector<int> numbers;
  for (const Terminal &t : state_->terminals) numbers.push_back(t.number);
  return numbers;
}

void HostTerminals::Pump(Receiver &rx)
{
  std::vector<std::pair<int, std::string>> got;
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    got.swap(state_->arrived);
  }
  for (const auto &g : got) rx.TerminalWrite(g.first, g.second.data(), g.second.size());
}

void HostTerminals::Drain(Receiver &rx)
{
  // the reader polls every 50 ms: two rounds of it see what was written last
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Pump(rx);
}

}  // namespace sim
