// Fetching the missing patches one version step at a time from the listed
// patch servers, with fallback to other servers when one refuses.
#pragma once

#include "platform/process_end.h"

// Runs the patch loop until the install has the server's version; returns
// the run's exit code, or does not return (the exits of the run).
ExitCode FetchPatches();
