// The calls into PATCHW32.dll: ordinal 1 with "<file> -u", a null pointer and
// the value 1, where 0 means the patch was applied; ordinal 2, whether the
// library holds trusted keys.
#pragma once

// Loads the library for the call and releases it afterwards; a library
// that cannot be loaded, or has no ordinal 1, counts as a failed call.
int CallPatchLibrary(const char* commandLine);

// True when the library answers through ordinal 2 that it holds trusted keys;
// a library that cannot be loaded or has no ordinal 2 (an older one) counts
// as key-less.
bool PatchLibraryHoldsKeys();
