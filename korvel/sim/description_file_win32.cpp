// The Windows counterpart of the POSIX reader, with the same limits: a disk
// file or a pipe, at most kMaxDescriptionBytes, no NUL byte, and no more than
// kPipeWaitMs of waiting for a pipe's next bytes.
#include <windows.h>

#include <cstring>

#include "description_file.h"

namespace korvel::sim {
namespace {

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (valid()) CloseHandle(handle_);
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&&) = delete;
    UniqueHandle& operator=(UniqueHandle&&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

DescriptionText refused(const std::string& reason) { return {std::string(), reason}; }

// "what: the system's message", on one line.
std::string systemError(const char* what) {
    const DWORD code = GetLastError();
    char message[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  message, sizeof message, nullptr);
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' || message[length - 1] == '.')) {
        --length;
    }
    return std::string(what) + ": " + (length > 0 ? std::string(message, length) : "error " + std::to_string(code));
}

enum class PipeState { kBytes, kEnd, kQuiet, kFailed, kUnpeekable };

// Waits until the pipe has bytes or its writer is gone, kPipeWaitMs at most.
// A pipe that cannot be peeked at (Wine's view of a Unix pipe) is read as it
// comes.
PipeState awaitPipe(HANDLE pipe) {
    const ULONGLONG deadline = GetTickCount64() + kPipeWaitMs;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE) return PipeState::kEnd;
            return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ? PipeState::kUnpeekable
                                                                                   : PipeState::kFailed;
        }
        if (available > 0) return PipeState::kBytes;
        if (GetTickCount64() >= deadline) return PipeState::kQuiet;
        Sleep(10);
    }
}

DescriptionText readOpened(HANDLE file) {
    const DWORD type = GetFileType(file);
    const bool pipe = type == FILE_TYPE_PIPE;
    if (!pipe && type != FILE_TYPE_DISK) return refused("is neither a regular file nor a pipe");
    const std::string tooLarge = "is larger than " + std::to_string(kMaxDescriptionBytes) + " bytes";
    // What a handle cannot tell (Wine's standard input from a file) the reading finds out.
    if (!pipe) {
        BY_HANDLE_FILE_INFORMATION information = {};
        if (GetFileInformationByHandle(file, &information) && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return refused("is a directory");
        }
        LARGE_INTEGER size = {};
        if (GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) > kMaxDescriptionBytes) {
            return refused(tooLarge);
        }
    }

    DescriptionText read;
    char chunk[16384];
    bool peeking = pipe;
    for (;;) {
        if (peeking) {
            const PipeState state = awaitPipe(file);
            if (state == PipeState::kUnpeekable) peeking = false;
            if (state == PipeState::kEnd) break;
            if (state == PipeState::kQuiet) {
                return refused("brought no data within " + std::to_string(kPipeWaitMs / 1000) + " s");
            }
            if (state == PipeState::kFailed) return refused(systemError("cannot be read"));
        }
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return refused(systemError("cannot be read"));
        }
        if (got == 0) {
            if (peeking) continue;  // a writer's empty write
            break;
        }
        if (read.text.size() + got > kMaxDescriptionBytes) return refused(tooLarge);
        if (std::memchr(chunk, '\0', got) != nullptr) return refused("holds a NUL byte");
        read.text.append(chunk, got);
    }
    return read;
}

}  // namespace

DescriptionText readDescriptionFile(const char* path) {
    // Backup semantics, so that a directory opens and can be named as one.
    const UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) return refused(systemError("cannot be read"));
    return readOpened(file.get());
}

// Standard input stays open: it is the process's, not ours.
DescriptionText readDescriptionStdin() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return refused("cannot be read: no standard input");
    return readOpened(input);
}

}  // namespace korvel::sim
