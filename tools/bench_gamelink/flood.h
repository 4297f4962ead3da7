// The flood mode of the game link benchmark (flood.cpp).
#pragma once

// Floods a running link for `seconds` and prints what it cost; 0 when the
// link and the peer could be opened.
int RunFlood(int seconds);
