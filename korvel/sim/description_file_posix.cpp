// The description as POSIX opens it: a regular file, or a pipe or FIFO read
// as its bytes come.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "description_file.h"
#include "unique_any.h"

namespace korvel::sim {
namespace {

struct FdOwned {
    using Value = int;
    static Value empty() { return -1; }
    static bool holds(Value fd) { return fd >= 0; }
    void close(Value fd) const { (void)::close(fd); }
};
using UniqueFd = UniqueAny<FdOwned>;

class FdSource final : public DescriptionSource {
public:
    explicit FdSource(int fd) : fd_(fd) {}

    Kind kind() override {
        if (::fstat(fd_, &status_) != 0) return failedNow(Kind::kFailed);
        if (S_ISDIR(status_.st_mode)) return Kind::kDirectory;
        if (S_ISFIFO(status_.st_mode)) return Kind::kPipe;
        return S_ISREG(status_.st_mode) ? Kind::kFile : Kind::kOther;
    }
    unsigned long long knownSize() override { return static_cast<unsigned long long>(status_.st_size); }
    Wait awaitPipe() override {
        pollfd wanted{fd_, POLLIN, 0};
        for (;;) {
            const int ready = ::poll(&wanted, 1, kPipeWaitMs);
            if (ready > 0) return Wait::kReady;  // bytes, or the end, which the read tells
            if (ready == 0) return Wait::kQuiet;
            if (errno != EINTR) return failedNow(Wait::kFailed);
        }
    }
    Read read(char* buffer, std::size_t size, std::size_t& got) override {
        const ssize_t read = ::read(fd_, buffer, size);
        if (read > 0) {
            got = static_cast<std::size_t>(read);
            return Read::kBytes;
        }
        if (read == 0) return Read::kEnd;
        return errno == EINTR || errno == EAGAIN ? Read::kAgain : failedNow(Read::kFailed);
    }
    std::string failure() override { return failure_; }

private:
    template <class Result>
    Result failedNow(Result result) {
        failure_ = std::strerror(errno);
        return result;
    }

    int fd_;
    struct stat status_ {};
    std::string failure_;
};

}  // namespace

DescriptionText readDescriptionFile(const char* path) {
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return refusedUnreadable(std::strerror(errno));
    FdSource source(fd.get());
    return readDescription(source);
}

// Standard input stays open: it is the process's, not ours.
DescriptionText readDescriptionStdin() {
    FdSource source(STDIN_FILENO);
    return readDescription(source);
}

}  // namespace korvel::sim
