// The firmware model of the simulated EC: fan curve, fan inertia, tachometer
// counts and temperatures, all kept in the shared section. Callers hold the
// section's mutex.
#pragma once

#include "SimState.h"

namespace wrsim {

// Puts the whole section into the state of a freshly powered EC.
void PowerOn(SIM_SHARED& sim, unsigned seed);

// Advances by the real time elapsed since the last advance (nothing while
// frozen) and publishes the registers. With bFollowHost, the workload follows
// the host's load, sampled now and then; without, the model keeps the last
// load it knew, or its own bursts of work.
void AdvanceToNow(SIM_SHARED& sim, bool bFollowHost);

// Advances by a simulated amount of time, frozen or not.
void AdvanceBy(SIM_SHARED& sim, double seconds);

// Forgets the time that passed since the last advance (after a freeze).
void RestartClock(SIM_SHARED& sim);

}  // namespace wrsim
