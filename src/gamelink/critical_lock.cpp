#include "gamelink/critical_lock.h"

CriticalLock::~CriticalLock() = default;
