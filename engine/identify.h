// Target identification: the first step of every operation on a target.
#pragma once
#include "engine/engine_state.h"

// Takes the target into serial programming mode, checks the programming-enable
// handshake and the signature against state.chipIndex, and for "MEGA AUTO"
// replaces chipIndex by the recognised part. Leaves the target in programming
// mode on success. Returns kResultOk, 1, 3, 5 or 19.
ResultCode IdentifyTarget(EngineState& state);
