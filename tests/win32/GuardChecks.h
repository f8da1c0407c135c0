#pragma once
// The single-instance guard's checks: copies of this program started as child processes take
// the named mapping, as copies of the application would.

#include "CheckRunner.h"

void RunGuardChecks(Tally& tally);

// The child's side: "--guard-hold" prints the result of Acquire and keeps the mapping until its
// standard input closes; "--guard-try" returns the result of Acquire as its exit status.
int GuardHoldChild();
int GuardTryChild();
