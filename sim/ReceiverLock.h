// ReceiverLock.h -- the receiver's state belongs to the firmware's thread.
//
// On the receiver the firmware's state is its own thread's; a plug-in's
// worker thread only ever meets the kernel. Here the simulator's state (its
// file tables, fault plans, power-cut model) stands where the kernel would,
// so a plug-in's other threads enter it one at a time: the thread that runs
// the rounds and events holds this lock, and lets go only while a plug-in
// of it polls (OS_Poll) and between two idle rounds. A facade call from any
// other thread waits for the lock; one from the holder passes.
#ifndef FERROX_SIM_RECEIVERLOCK_H
#define FERROX_SIM_RECEIVERLOCK_H

namespace sim {

// The firmware thread's hold, for a round or an event (re-entrant).
class FirmwareHold {
 public:
  FirmwareHold();
  ~FirmwareHold();
  FirmwareHold(const FirmwareHold &) = delete;
  FirmwareHold &operator=(const FirmwareHold &) = delete;
};

// One facade call: nothing for the holder, the lock for any other thread.
class FacadeEntry {
 public:
  FacadeEntry();
  ~FacadeEntry();
  FacadeEntry(const FacadeEntry &) = delete;
  FacadeEntry &operator=(const FacadeEntry &) = delete;
  // Lets go for a while (a call that waits, as a kernel's does): the
  // caller's hold, whichever it is, is given back afterwards.
  template <class Wait>
  void Released(Wait wait)
  {
    Release();
    wait();
    Retake();
  }

 private:
  void Release();
  void Retake();
  bool locked_ = false;
  int savedDepth_ = 0;
  FacadeEntry *outer_ = nullptr;
};

// Between two idle rounds: a thread waiting for the lock gets it now, and
// one whose wait for a silent share ended by `now` (run seconds) finishes
// its call before the round goes on: on the virtual clock the rounds would
// otherwise run far ahead of a thread that needs real time to wake.
void LetOthersIn(double now);
// A thread of a plug-in waits for a share silent until `until`.
void AwaitBegin(double until);
void AwaitEnd(double until);

// The innermost facade call of this thread, null outside one.
FacadeEntry *CurrentFacadeEntry();
// Does this thread hold the firmware's hold (it runs the rounds)?
bool OnFirmwareThread();

}  // namespace sim

#endif
