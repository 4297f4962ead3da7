// The names of the values the updater reads or writes in its settings key
// (kSettingsKey); the first-run defaults hold many more.
#pragma once

namespace registry_name {

constexpr const char* kGameServer = "MRLServerIP";        // the chosen game server
constexpr const char* kTriedGameServer = "MRLServerIP2";  // the address of the last attempt
constexpr const char* kVersion = "Version";               // the installed version
constexpr const char* kProxy = "Proxy";                   // the first connection uses a proxy
constexpr const char* kProxyValue = "Proxy Value";        // the server choice is locked
constexpr const char* kKeepersWord = "Keeper's Word";     // give up when unanswered
constexpr const char* kPath = "Path";                     // the install directory

}  // namespace registry_name
