// The calls into PATCHW32.dll: ordinal 1 with "<file> -u", a null pointer and
// the value 1, where 0 means the patch was applied; ordinal 2, whether the
// library holds trusted keys; ordinal 3, settling what an earlier application
// left.
#pragma once

// Loads the library for the call and releases it afterwards; a library
// that cannot be loaded, or has no ordinal 1, counts as a failed call.
int CallPatchLibrary(const char* commandLine);

// True when the library answers through ordinal 2 that it holds trusted keys;
// a library that cannot be loaded or has no ordinal 2 (an older one) counts
// as key-less.
bool PatchLibraryHoldsKeys();

// Asks the library through ordinal 3 to finish or undo a stopped application
// and to remove the backups that were in use when one ended (the updater and
// the library themselves, replaced in an earlier run). Returns ordinal 1's
// codes; 0 as well when the library cannot be loaded or has no ordinal 3.
int SettlePatchLibrary();
