#pragma once
// The Win32 serial device layer's checks: on COM2 against the terminal pty-peer drives, and of
// its error codes.

#include "CheckRunner.h"
#include "PeerLink.h"

void RunSerialChecks(PeerLink& peer, Tally& tally);
// The layer's reading of Windows error codes, against the system's own status table.
void RunErrorChecks(Tally& tally);
