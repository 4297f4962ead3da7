// Signal handlers set with sigaction: no reset to the default after the
// first signal, and blocking calls interrupted (EINTR) so that the loops
// waiting in them see the flag at once.
#pragma once

// `handler` must only store to a lock-free atomic or a volatile sig_atomic_t.
void OnSignal(int signal, void (*handler)(int));
void IgnoreSignal(int signal);
