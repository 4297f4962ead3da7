// Asking the game server which version is current and which patch servers
// exist.
#pragma once

#include <cstdint>

class KVNPacket;

// Chooses the game server (registry, else a random listed one), shows the
// server selection dialog unless in silent mode, starts the searching dialog.
void ChooseGameServer();

// Runs attempts until the game server answers (or the player gives up) and
// decides how the run goes on; returns the entry point's result when the run
// ends normally, or does not return (the exits of the run).
int DiscoverAndDecide();

// Reads an answer to message 65 into serverVersion and the patch server
// list. A message of another id is ignored (false); an answer too short for
// the fields it announces is dropped whole (false, nothing appended).
bool ReadServerAnswer(KVNPacket& packet);

// The host and port of an address "host[:port]"; the port is `defaultPort`
// when the address names none (or nothing follows the colon).
void SplitAddress(const char* address, uint16_t defaultPort, char* host, int hostSize,
                  uint16_t* port);
