// A reference server run as a child process for a test: its stdout read
// line by line with a deadline, stopped (and, past a deadline, killed) when
// the test ends.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class ServerProcess {
public:
    // Starts `path` with `args`; a nonzero `fileLimit` caps its descriptors
    // (soft and hard). False when it could not be started.
    bool Start(const std::string& path, const std::vector<std::string>& args,
               rlim_t fileLimit = 0) {
        int out[2];
        if (::pipe(out) != 0) return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            if (fileLimit) {
                rlimit limit{fileLimit, fileLimit};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(path.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
        return pid_ > 0;
    }

    ~ServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            for (int waited = 0; ::waitpid(pid_, &status, WNOHANG) == 0; ++waited) {
                if (waited == 500) ::kill(pid_, SIGKILL);  // not gone after 5 s
                ::usleep(10000);
            }
        }
        if (out_ >= 0) ::close(out_);
    }

    // The next line holding `part`, read within `seconds`; empty if none came.
    std::string WaitForLine(const std::string& part, int seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::string line;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{out_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            char c;
            if (::read(out_, &c, 1) != 1) return "";
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.find(part) != std::string::npos) return line;
            line.clear();
        }
        return "";
    }

    // The port of the first line's "listening on ADDRESS:PORT", 0 if none.
    uint16_t ListeningPort() {
        std::string line = WaitForLine("listening on");
        size_t colon = line.find(':');
        return colon == std::string::npos ? 0 : uint16_t(std::stoul(line.substr(colon + 1)));
    }

    pid_t Pid() const { return pid_; }

    // User and system CPU time the process has used, in clock ticks.
    long CpuTicks() const {
        std::string path = "/proc/" + std::to_string(pid_) + "/stat";
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file) return -1;
        char text[1024] = {};
        size_t length = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        // Fields after the command's closing parenthesis; utime and stime
        // are the 12th and 13th of them.
        std::string stat(text, length);
        size_t at = stat.rfind(')');
        long utime = 0, stime = 0;
        if (at == std::string::npos ||
            std::sscanf(stat.c_str() + at + 1,
                        " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime,
                        &stime) != 2)
            return -1;
        return utime + stime;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};
