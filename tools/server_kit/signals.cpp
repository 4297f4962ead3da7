#include "signals.h"

#include <signal.h>

#include <cstring>

namespace {
void Install(int signal, void (*handler)(int)) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting epoll_wait returns EINTR
    ::sigaction(signal, &action, nullptr);
}
}  // namespace

void OnSignal(int signal, void (*handler)(int)) { Install(signal, handler); }

void IgnoreSignal(int signal) { Install(signal, SIG_IGN); }
