// The download receiver's thread: it reads everything a patch server sends
// on patchConnection and performs what ReceiverCore decides on the run
// variables, the patch-server list, the patch file in the current directory
// and the connecting dialog. The driver starts one per update step.
#pragma once

#include <cstdint>

// Thread procedure (no argument used). Ends at once when a receiver already
// runs; otherwise reads until doneFlag is set. receiverRunning is set for
// exactly as long as it runs, so that a driver waiting for the greeting can
// tell that the receiver stopped without one.
uint32_t PatchReceiverThread(void* unused);
