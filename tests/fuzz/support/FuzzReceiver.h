// FuzzReceiver.h -- one simulated receiver shared by all inputs of a fuzz
// target, so toolkit code can call the plug-in API as it does on a receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Receiver.h"

// Starts the receiver on the first call: a sandbox in a fresh temporary
// folder, virtual clock, terminal 0 open, and a host task as the current
// plug-in. Every call empties what the terminal received, so a target that
// calls it once per input keeps no more than one input's output. The sandbox
// is removed when the process ends normally.
sim::Receiver &FuzzReceiver();

// Fuzzer-made text: the bytes followed by zero bytes, so that a selector
// that carries a zero of its own (0x10 0x00 n) never reads past the buffer.
// Allocated to the byte, so AddressSanitizer sees any read beyond it.
std::unique_ptr<char[]> FuzzText(const uint8_t *data, size_t size);
