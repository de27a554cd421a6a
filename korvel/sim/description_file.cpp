#include "description_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvel::sim {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) (void)::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

DescriptionText refused(const std::string& reason) { return {std::string(), reason}; }

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// True once the pipe has bytes or its end to give; false after the wait.
bool awaitPipe(int fd) {
    pollfd wanted{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wanted, 1, kPipeWaitMs);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

}  // namespace

namespace {

DescriptionText readOpened(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return refused(systemError("cannot be read"));
    if (S_ISDIR(status.st_mode)) return refused("is a directory");
    const bool pipe = S_ISFIFO(status.st_mode);
    if (!pipe && !S_ISREG(status.st_mode)) return refused("is neither a regular file nor a pipe");
    const std::string tooLarge = "is larger than " + std::to_string(kMaxDescriptionBytes) + " bytes";
    if (!pipe && static_cast<unsigned long long>(status.st_size) > kMaxDescriptionBytes) return refused(tooLarge);

    DescriptionText read;
    char chunk[16384];
    for (;;) {
        if (pipe && !awaitPipe(fd)) {
            return refused("brought no data within " + std::to_string(kPipeWaitMs / 1000) + " s");
        }
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return refused(systemError("cannot be read"));
        }
        const auto size = static_cast<std::size_t>(got);
        if (read.text.size() + size > kMaxDescriptionBytes) return refused(tooLarge);
        if (std::memchr(chunk, '\0', size) != nullptr) return refused("holds a NUL byte");
        read.text.append(chunk, size);
    }
    return read;
}

}  // namespace

DescriptionText readDescriptionFile(const char* path) {
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return refused(systemError("cannot be read"));
    return readOpened(fd.get());
}

// Standard input stays open: it is the process's, not ours.
DescriptionText readDescriptionStdin() { return readOpened(STDIN_FILENO); }

}  // namespace korvel::sim
