// The call into PATCHW32.dll: ordinal 1 with "<file> -u", a null pointer and
// the value 1; 0 means the patch was applied.
#pragma once

// Loads the library for the call and releases it afterwards; a library
// that cannot be loaded, or has no ordinal 1, counts as a failed call.
int CallPatchLibrary(const char* commandLine);
