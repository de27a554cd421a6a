#include "description_file.h"

#include <cstring>

namespace korvel::sim {
namespace {

DescriptionText refused(const std::string& reason) { return {std::string(), reason}; }

std::string tooLarge() { return "is larger than " + std::to_string(kMaxDescriptionBytes) + " bytes"; }

}  // namespace

DescriptionText refusedUnreadable(const std::string& failure) { return refused("cannot be read: " + failure); }

DescriptionText readDescription(DescriptionSource& source) {
    using Kind = DescriptionSource::Kind;
    const Kind kind = source.kind();
    if (kind == Kind::kFailed) return refusedUnreadable(source.failure());
    if (kind == Kind::kDirectory) return refused("is a directory");
    if (kind == Kind::kOther) return refused("is neither a regular file nor a pipe");
    if (kind == Kind::kFile && source.knownSize() > kMaxDescriptionBytes) return refused(tooLarge());

    DescriptionText read;
    char chunk[16384];
    for (;;) {
        if (kind == Kind::kPipe) {
            const DescriptionSource::Wait wait = source.awaitPipe();
            if (wait == DescriptionSource::Wait::kEnd) break;
            if (wait == DescriptionSource::Wait::kQuiet) {
                return refused("brought no data within " + std::to_string(kPipeWaitMs / 1000) + " s");
            }
            if (wait == DescriptionSource::Wait::kFailed) return refusedUnreadable(source.failure());
        }
        std::size_t got = 0;
        const DescriptionSource::Read result = source.read(chunk, sizeof chunk, got);
        if (result == DescriptionSource::Read::kEnd) break;
        if (result == DescriptionSource::Read::kAgain) continue;
        if (result == DescriptionSource::Read::kFailed) return refusedUnreadable(source.failure());
        if (read.text.size() + got > kMaxDescriptionBytes) return refused(tooLarge());
        if (std::memchr(chunk, '\0', got) != nullptr) return refused("holds a NUL byte");
        read.text.append(chunk, got);
    }
    return read;
}

}  // namespace korvel::sim
