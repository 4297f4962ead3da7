// Turning received and local files into installed versions.
#pragma once

// Applies the file the download just completed (data file, patch program or
// patch-library file) and records the step.
void ApplyDownloadedFile();

// Steps the install down towards the server's version from local downgrade
// files; returns the entry point's result or does not return.
int RunDowngrade();
