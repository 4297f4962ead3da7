// One owner for one POSIX descriptor: closed when the owner goes, moved but
// never copied, so no two objects close the same number.
#pragma once

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes what it held and takes `fd`.
    void Reset(int fd = -1);
    int Release();

private:
    int fd_ = -1;
};
