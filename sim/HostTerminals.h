// HostTerminals.h -- real pseudo-terminals for plug-ins that write to the
// machine's own "/dev/pts/N" (bottom side).
//
// A receiver-flavour plug-in opens the terminals with libc, not through the
// simulator's console, so on a machine laid out like the receiver (the
// virtual receiver, --root /) the simulator opens real pseudo-terminals with
// the numbers asked for, reads what arrives on their master side on a thread
// of its own (a plug-in writing more than the terminal holds never waits on
// the firmware's thread) and hands it to the receiver's console in order.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sim {

class Receiver;

class HostTerminals {
 public:
  // Opens /dev/pts/N for each wanted N that the kernel hands out among the
  // first few; what could not be had is described in *warning.
  HostTerminals(const std::vector<int> &wanted, std::string *warning);
  ~HostTerminals();
  HostTerminals(const HostTerminals &) = delete;
  HostTerminals &operator=(const HostTerminals &) = delete;

  // The terminal numbers that are open.
  std::vector<int> Open() const;
  // Gives what arrived since the last call to the receiver's console.
  void Pump(Receiver &rx);
  // Waits briefly for bytes still in the terminals, then pumps them too.
  void Drain(Receiver &rx);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sim
