#include "unique_fd.h"

#include <unistd.h>

UniqueFd::~UniqueFd() { Reset(); }

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int UniqueFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}
