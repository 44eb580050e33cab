#include "tests/cli/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillon::testing {

namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        if (changes.count(key) == 0) {
            result.push_back(text);
        }
    }
    for (const auto& [key, value] : changes) {
        result.push_back(key + "=" + value);
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);

    // The child starts with the usual signal dispositions and nothing blocked, whatever
    // the test program does with its own.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;

    int childEnds[2] = {-1, -1};
    if (options.terminal) {
        outFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char slave[128] = {};
        if (outFd_ < 0 || ::grantpt(outFd_) != 0 || ::unlockpt(outFd_) != 0 ||
            ::ptsname_r(outFd_, slave, sizeof slave) != 0) {
            return;
        }
        // A session of its own, whose first terminal opened becomes its controlling one.
        flags |= POSIX_SPAWN_SETSID;
        posix_spawn_file_actions_addopen(&actions, 0, slave, O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
    } else {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        outFd_ = out[0];
        errFd_ = err[0];
        childEnds[0] = out[1];
        childEnds[1] = err[1];
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    }
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = Environment(options.environment);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(env);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, &attributes, argvPointers.data(),
                      envPointers.data()) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int fd : childEnds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (pid_ > 0) {
        reader_ = std::thread([this] { Read(); });
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !Wait(std::chrono::milliseconds(0))) {
        // Wait killed it.
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    for (int fd : {outFd_, errFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void ChildProcess::Read() {
    std::vector<pollfd> fds;
    fds.push_back({outFd_, POLLIN, 0});
    if (errFd_ >= 0) {
        fds.push_back({errFd_, POLLIN, 0});
    }
    std::size_t open = fds.size();
    while (open > 0) {
        if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                // End of a pipe; on a terminal EIO once the last holder of the slave left.
                fds[i].fd = -1;
                --open;
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                (i == 0 ? out_ : err_).append(chunk, static_cast<std::size_t>(got));
            }
            changed_.notify_all();
        }
    }
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

void ChildProcess::Type(const std::string& text) const {
    if (errFd_ < 0 && outFd_ >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(outFd_, text.data(), text.size());
    }
}

std::string ChildProcess::Out() {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string ChildProcess::Err() {
    std::lock_guard lock(mutex_);
    return err_;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout,
                                 bool errorOutput) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(
        lock, timeout, [&] { return (errorOutput ? err_ : out_).find(text) != std::string::npos; });
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    if (status_) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int raw = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &raw, 0);
            status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
            if (reader_.joinable()) {
                reader_.join();
            }
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
    // Everything it wrote is in once the output ends.
    if (reader_.joinable()) {
        reader_.join();
    }
    return status_;
}

} // namespace quillon::testing
