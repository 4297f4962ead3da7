// Turning received and local files into installed versions.
#pragma once

#include "platform/process_end.h"

// Applies the file the download just completed (data file, patch program or
// patch-library file) and records the step.
void ApplyDownloadedFile();

// Steps the install down towards the server's version from local downgrade
// files; returns the run's exit code or does not return.
ExitCode RunDowngrade();
