// The pause's key at a Windows console. Used only by the Windows terminal
// layer.
#pragma once

#include <windows.h>

// Waits for a key press beyond the first old events of the console's input,
// which were typed ahead and stay for the reads after the pause. Ends at
// once when the session is to end.
void await_key(DWORD old);
