#include "run/server_choice.h"

namespace run {

bool silentMode = false;
char gameServerAddress[kAddressSize] = {};
int32_t proxyEnabled = 0;
char proxyAddress[kAddressSize] = {};
int32_t serverChoiceLocked = 0;

}  // namespace run
