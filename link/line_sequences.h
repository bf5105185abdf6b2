// Fixed line sequences that take a target into and out of serial programming
// mode. Each is a short series of single-packet bridge writes sent without
// filler; each returns the result of its last bridge call, or 0 as soon as
// one call fails (the remaining calls are not made, the lines stay as far as
// the sequence got).
#pragma once
#include <cstdint>

// Reset, clock and data driven low, then 32 us.
uint32_t EnterAvrProgramming(uint32_t device);
// Reset driven high, clock and data driven low, then 32 us.
uint32_t EnterAt89Programming(uint32_t device);
// Reset, clock and data driven low, no wait.
uint32_t DriveLinesLow(uint32_t device);
// Reset raised, then lowered again, as two separate writes.
uint32_t PulseAvrReset(uint32_t device);
// Reset low, high, low, high; after 63 us nothing stays driven.
uint32_t ResetAvrTarget(uint32_t device);
// Reset high, low, high, low; after 61 us only reset stays driven, low.
uint32_t ResetAt89Target(uint32_t device);
