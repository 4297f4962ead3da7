// Fetching the missing patches one version step at a time from the listed
// patch servers, with fallback to other servers when one refuses.
#pragma once

// Runs the patch loop until the install has the server's version; returns
// the entry point's result, or does not return (the exits of the run).
int FetchPatches();
