// The player's choice of game server and proxy.
//
// Writers, all on the main thread and all before the game server is first
// asked: the start-up (silentMode), the driver's choice of server
// (gameServerAddress, proxyEnabled, serverChoiceLocked) and the server
// selection dialog (gameServerAddress, proxyEnabled, proxyAddress). Readers:
// the discovery and the first patch-server connection, later on the same
// thread. Nothing here is shared with another thread.
#pragma once

#include <cstdint>

namespace run {

constexpr int kAddressSize = 100;  // 99 characters and the terminator

// Normal mode unless the command line is exactly the silent-mode text.
extern bool silentMode;
// The game server as chosen: a server-list name or a typed address.
extern char gameServerAddress[kAddressSize];
// The first patch-server connection goes through the proxy when set.
extern int32_t proxyEnabled;
extern char proxyAddress[kAddressSize];
// "Proxy Value" is set: the dialog does not let the player change servers.
extern int32_t serverChoiceLocked;

}  // namespace run
