// brisal's entry over a fake ostrum: output bytes, calls and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "brisal_entry.h"
#include "support/capture.h"

namespace brisal {
namespace {

const std::string kBanner = "\n\rbrisal - Service Partition and Virtual Partition tool\n\r\n\r";
const std::string kDebug = "Debug Printing enabled\n\r";
const std::string kUsage =
    "If no parameter is supplied this help is displayed\n\r"
    " -m   mounts the Service Partition\n\r"
    " -f   finds a mounted Service Partition\n\r"
    " -r   unmounts the Service Partition\n\r"
    " -v   locks the Virtual Partition\n\r"
    " -u   unlocks the Virtual Partition\n\r"
    " -d   Prints out lots of debug information\n\r";

class FakeOstrum : public OstrumLibrary {
public:
    int result = 1;
    std::string bufferText = "S:\\";
    bool terminate = true;
    bool untouched = false;      // succeed without writing the buffer
    bool zeroedOnEntry = false;  // what the buffer held when handed over
    std::vector<std::string> calls;

    int mountSP(char* buffer, unsigned long capacity) override { return withBuffer("mountSP", buffer, capacity); }
    int findMountedSP(char* buffer, unsigned long capacity) override {
        return withBuffer("findMountedSP", buffer, capacity);
    }
    int umountSP() override { return plain("umountSP"); }
    int lockVirP() override { return plain("lockVirP"); }
    int unlockVirP() override { return plain("unlockVirP"); }

private:
    int withBuffer(const char* name, char* buffer, unsigned long capacity) {
        calls.push_back(std::string(name) + " " + std::to_string(capacity));
        zeroedOnEntry = std::all_of(buffer, buffer + capacity, [](char c) { return c == '\0'; });
        if (untouched) return result;
        if (terminate) {
            std::memcpy(buffer, bufferText.c_str(), bufferText.size() + 1);
        } else {
            std::memset(buffer, 'X', capacity);  // no terminator anywhere
        }
        return result;
    }
    int plain(const char* name) {
        calls.push_back(name);
        return result;
    }
};


struct Outcome {
    int exitCode;
    std::string output;
    std::vector<std::string> calls;
};

Outcome run(std::vector<std::string> args, int result = 1, FakeOstrum ostrum = FakeOstrum()) {
    debugPrinting = 0;  // a fresh process each time
    ostrum.result = result;
    args.insert(args.begin(), "brisal");
    const auto argv = argvOf(args);
    CapturingBytes<Output> out;
    // Garbage where the mount point buffer will lie, as a used stack would hold.
    [] {
        volatile char garbage[4096];
        for (auto& c : garbage) c = 'G';
    }();
    const int code = brisalMain(static_cast<int>(args.size()), argv.data(), ostrum, out);
    if (!ostrum.calls.empty() && ostrum.calls.front().find(' ') != std::string::npos) {
        EXPECT_TRUE(ostrum.zeroedOnEntry) << "the mount point buffer is zeroed before the call";
    }
    return {code, out.written, ostrum.calls};
}

TEST(BrisalCommandLine, BadCommandLinesTakeTheQuietUsagePath) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-d"}, {"-d", "-m"}, {"/m"}, {"m"}, {""}, {"-"}, {"-x"}, {"--m"}, {"-", "-m"}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.exitCode, 1) << ::testing::PrintToString(args);
        EXPECT_TRUE(r.calls.empty()) << ::testing::PrintToString(args);
        EXPECT_EQ(r.output, kBanner) << ::testing::PrintToString(args);
    }
}

TEST(BrisalCommandLine, DebugSwitchShowsTheUsageForAnUnknownFirstArgument) {
    for (const char* first : {"-x", "/m", "", "-", "-D"}) {
        const Outcome r = run({first, "-d"});
        EXPECT_EQ(r.output, kBanner + kDebug + kUsage) << first;
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.calls.empty());
    }
    EXPECT_EQ(run({"-q", "-Debug"}).output, kBanner + kDebug + kUsage);
    EXPECT_EQ(run({"-x", "/d"}).output, kBanner) << "a slash does not make the debug switch";
    EXPECT_EQ(run({"-v", "/d"}).output, kBanner);
}

TEST(BrisalOperations, EachSwitchCallsItsFunctionOnceInEitherCase) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"-m", "mountSP 260"}, {"-M", "mountSP 260"}, {"-mount", "mountSP 260"},
        {"-f", "findMountedSP 260"}, {"-F", "findMountedSP 260"},
        {"-r", "umountSP"}, {"-R", "umountSP"}, {"-v", "lockVirP"}, {"-V", "lockVirP"},
        {"-u", "unlockVirP"}, {"-Unlock", "unlockVirP"}};
    for (const auto& [option, call] : cases) {
        const Outcome r = run({option, "ignored", "-d"});
        EXPECT_EQ(r.calls, std::vector<std::string>{call}) << option;
        EXPECT_EQ(r.output, kBanner) << "quiet without -d in the second place: " << option;
        EXPECT_EQ(r.exitCode, 0) << option;
    }
}

TEST(BrisalOperations, ExitCodeFollowsZeroAgainstNonzero) {
    for (const char* option : {"-m", "-f", "-r", "-v", "-u"}) {
        EXPECT_EQ(run({option}, 0).exitCode, 1) << option;
        EXPECT_EQ(run({option}, -1).exitCode, 0) << option;
        EXPECT_EQ(run({option}, 42).exitCode, 0) << option;
        EXPECT_EQ(run({option}, 0).output, kBanner) << option;
    }
}

TEST(BrisalOperations, DebugMessagesForSuccessAndFailure) {
    EXPECT_EQ(run({"-m", "-d"}).output, kBanner + kDebug + "Service Partition mounted at: S:\\\n\r");
    EXPECT_EQ(run({"-f", "-D"}, -1).output, kBanner + kDebug + "Service Partition mounted at: S:\\\n\r");
    EXPECT_EQ(run({"-m", "-d"}, 0).output, kBanner + kDebug + "Mount Service Partition failed\n\r");
    EXPECT_EQ(run({"-f", "-d"}, 0).output, kBanner + kDebug + "No Mounted Service Partition found\n\r");
    EXPECT_EQ(run({"-r", "-d"}).output, kBanner + kDebug + "Service Partition unmounted\n\r");
    EXPECT_EQ(run({"-v", "-d"}).output, kBanner + kDebug + "Virtual Partition locked\n\r");
    EXPECT_EQ(run({"-u", "-d"}).output, kBanner + kDebug + "Virtual Partition unlocked\n\r");
    for (const char* option : {"-r", "-v", "-u"}) {
        EXPECT_EQ(run({option, "-d"}, 0).output, kBanner + kDebug) << option;
    }
}

TEST(BrisalOperations, MountPointIsPrintedAsItStandsAndNeverPastTheBuffer) {
    FakeOstrum percent;
    percent.bufferText = "%s%n\\\\?\\Volume{1}\\";
    EXPECT_EQ(run({"-m", "-d"}, 1, percent).output,
              kBanner + kDebug + "Service Partition mounted at: %s%n\\\\?\\Volume{1}\\\n\r");

    // A library that succeeds without writing leaves the zeroed buffer: an empty text.
    for (const char* option : {"-m", "-f"}) {
        FakeOstrum silent;
        silent.untouched = true;
        EXPECT_EQ(run({option, "-d"}, 1, silent).output, kBanner + kDebug + "Service Partition mounted at: \n\r");
    }

    FakeOstrum unterminated;
    unterminated.terminate = false;
    EXPECT_EQ(run({"-f", "-d"}, 1, unterminated).output,
              kBanner + kDebug + "Service Partition mounted at: " + std::string(260, 'X') + "\n\r");
}

}  // namespace
}  // namespace brisal
