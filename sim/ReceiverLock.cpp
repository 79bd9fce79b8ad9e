// ReceiverLock.cpp -- the firmware thread's hold on the simulator's state.
#include "ReceiverLock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace sim {

namespace {
std::mutex g_lock;
std::atomic<std::thread::id> g_holder{};  // the thread holding the firmware's hold
int g_depth = 0;                          // its nesting; touched by the holder only
std::atomic<int> g_waiting{0};            // other threads waiting for the lock
std::multiset<double> g_awaits;           // ends of the silences threads wait out (under the lock)

thread_local FacadeEntry *t_entry = nullptr;

bool Holding() { return g_holder.load() == std::this_thread::get_id(); }

void Take()
{
  ++g_waiting;
  g_lock.lock();
  --g_waiting;
}
}  // namespace

FirmwareHold::FirmwareHold()
{
  if (Holding()) {
    ++g_depth;
    return;
  }
  Take();
  g_holder = std::this_thread::get_id();
  g_depth = 1;
}

FirmwareHold::~FirmwareHold()
{
  if (--g_depth == 0) {
    g_holder = std::thread::id{};
    g_lock.unlock();
  }
}

FacadeEntry::FacadeEntry() : outer_(t_entry)
{
  t_entry = this;
  // a call inside a call (the facade's helpers) holds already
  if (Holding() || (outer_ && outer_->locked_)) return;
  Take();
  locked_ = true;
}

FacadeEntry::~FacadeEntry()
{
  t_entry = outer_;
  if (locked_) g_lock.unlock();
}

FacadeEntry *CurrentFacadeEntry() { return t_entry; }
bool OnFirmwareThread() { return Holding(); }

void FacadeEntry::Release()
{
  if (!locked_ && !Holding() && outer_) {  // the outer call holds the lock
    outer_->Release();
    return;
  }
  if (locked_) {
    g_lock.unlock();
    return;
  }
  if (!Holding()) return;
  savedDepth_ = g_depth;
  g_depth = 0;
  g_holder = std::thread::id{};
  g_lock.unlock();
}

void FacadeEntry::Retake()
{
  if (!locked_ && savedDepth_ == 0 && outer_) {
    outer_->Retake();
    return;
  }
  if (locked_) {
    Take();
    return;
  }
  if (savedDepth_ == 0) return;
  Take();
  g_holder = std::this_thread::get_id();
  g_depth = savedDepth_;
  savedDepth_ = 0;
}

void AwaitBegin(double until) { g_awaits.insert(until); }  // under the lock

void AwaitEnd(double until)
{
  auto it = g_awaits.find(until);
  if (it != g_awaits.end()) g_awaits.erase(it);
}

void LetOthersIn(double now)
{
  if (!Holding()) return;
  const bool due = !g_awaits.empty() && *g_awaits.begin() <= now;
  if (!due && g_waiting.load() == 0) return;
  FacadeEntry entry;
  entry.Released([due, now] {
    // the waiting threads each take the lock in turn; a short bound keeps a
    // thread that keeps calling from holding the rounds up, a longer one
    // lets a thread whose share answers again get there
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(due ? 2000 : 20);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::microseconds(due ? 200 : 0));
      std::lock_guard<std::mutex> look(g_lock);
      const bool stillDue = !g_awaits.empty() && *g_awaits.begin() <= now;
      if ((!stillDue && g_waiting.load() == 0) || std::chrono::steady_clock::now() >= until) break;
    }
  });
}

}  // namespace sim
