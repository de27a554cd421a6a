// The description as Windows opens it: a disk file, or a pipe read as its
// bytes come.
#include <windows.h>

#include "description_file.h"
#include "win32/unique_handle.h"

namespace korvel::sim {
namespace {

// The system's message for the last error, on one line.
std::string systemMessage() {
    const DWORD code = GetLastError();
    char message[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  message, sizeof message, nullptr);
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' || message[length - 1] == '.')) {
        --length;
    }
    return length > 0 ? std::string(message, length) : "error " + std::to_string(code);
}

class HandleSource final : public DescriptionSource {
public:
    explicit HandleSource(HANDLE file) : file_(file) {}

    // What a handle cannot tell (Wine's standard input from a file) the reading finds out.
    Kind kind() override {
        const DWORD type = GetFileType(file_);
        peeking_ = type == FILE_TYPE_PIPE;
        if (peeking_) return Kind::kPipe;
        if (type != FILE_TYPE_DISK) return Kind::kOther;
        BY_HANDLE_FILE_INFORMATION information = {};
        if (GetFileInformationByHandle(file_, &information) && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return Kind::kDirectory;
        }
        return Kind::kFile;
    }
    unsigned long long knownSize() override {
        LARGE_INTEGER size = {};
        return GetFileSizeEx(file_, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
    }
    // A pipe that cannot be peeked at (Wine's view of a Unix pipe) is read as it comes.
    Wait awaitPipe() override {
        const ULONGLONG deadline = GetTickCount64() + kPipeWaitMs;
        while (peeking_) {
            DWORD available = 0;
            if (!PeekNamedPipe(file_, nullptr, 0, nullptr, &available, nullptr)) {
                const DWORD error = GetLastError();
                if (error == ERROR_BROKEN_PIPE) return Wait::kEnd;
                if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return failedNow(Wait::kFailed);
                peeking_ = false;
                break;
            }
            if (available > 0) break;
            if (GetTickCount64() >= deadline) return Wait::kQuiet;
            Sleep(10);
        }
        return Wait::kReady;
    }
    Read read(char* buffer, std::size_t size, std::size_t& got) override {
        DWORD read = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &read, nullptr)) {
            return GetLastError() == ERROR_BROKEN_PIPE ? Read::kEnd : failedNow(Read::kFailed);
        }
        got = read;
        if (read > 0) return Read::kBytes;
        return peeking_ ? Read::kAgain : Read::kEnd;  // a writer's empty write, or the end
    }
    std::string failure() override { return failure_; }

private:
    template <class Result>
    Result failedNow(Result result) {
        failure_ = systemMessage();
        return result;
    }

    HANDLE file_;
    bool peeking_ = false;  // a pipe, until it cannot be peeked at
    std::string failure_;
};

}  // namespace

DescriptionText readDescriptionFile(const char* path) {
    // Backup semantics, so that a directory opens and can be named as one.
    const UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return refusedUnreadable(systemMessage());
    HandleSource source(file.get());
    return readDescription(source);
}

// Standard input stays open: it is the process's, not ours.
DescriptionText readDescriptionStdin() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return refusedUnreadable("no standard input");
    HandleSource source(input);
    return readDescription(source);
}

}  // namespace korvel::sim
