// First-run set-up of the settings key and the installed version copied
// into it on every run.
#pragma once

#include <string>

constexpr const char* kCreatingRegistryTrace = "**** CREATING REGISTRY ****\r\n";

// The directory part of an executable path: cut at the last backslash, the
// backslash removed. A path without a backslash after its first character
// gives an empty text.
std::string DirectoryOfPath(const std::string& path);

class RegKeyHandler;

// Opens `subKey` under the current user with `handler`; when it does not
// exist yet, creates it and writes the first-run defaults and "Path". An
// existing key is left untouched.
void BootstrapRegistry(RegKeyHandler& handler, const char* subKey);

// Copies the number of the first line of "Version.Txt" (at most 8
// characters of it) into the integer value "Version". Without the file
// nothing is written and false is returned.
bool CopyVersionToRegistry();
