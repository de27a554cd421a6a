// brisal's entry over an arbitrary argument vector, ostrum result and buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "brisal_entry.h"
#include "fuzz_support.h"

namespace {

class FuzzedOstrum : public brisal::OstrumLibrary {
public:
    FuzzedOstrum(int result, std::vector<uint8_t> bytes) : result_(result), bytes_(std::move(bytes)) {}
    int mountSP(char* buffer, unsigned long capacity) override { return fill(buffer, capacity); }
    int findMountedSP(char* buffer, unsigned long capacity) override { return fill(buffer, capacity); }
    int umountSP() override { return call(); }
    int lockVirP() override { return call(); }
    int unlockVirP() override { return call(); }
    int calls = 0;

private:
    int fill(char* buffer, unsigned long capacity) {
        FUZZ_CHECK(capacity == 260);
        // Whatever the library leaves, terminated or not, but only within the capacity.
        if (!bytes_.empty()) std::memcpy(buffer, bytes_.data(), std::min<std::size_t>(bytes_.size(), capacity));
        return call();
    }
    int call() {
        ++calls;
        return result_;
    }
    int result_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int argc = input.ConsumeIntegralInRange(1, 5);
    std::vector<std::string> args{"brisal"};
    for (int i = 1; i < argc; ++i) args.push_back(input.ConsumeRandomLengthString(16));
    const int result = input.ConsumeIntegral<int>();
    FuzzedOstrum ostrum(result, input.ConsumeBytes<uint8_t>(300));

    const auto argv = argvOf(args);
    debugPrinting = 0;
    CapturingBytes<brisal::Output> out;
    const int code = brisal::brisalMain(argc, argv.data(), ostrum, out);
    FUZZ_CHECK(code == 0 || code == 1);
    FUZZ_CHECK(ostrum.calls <= 1);
    FUZZ_CHECK(code == 1 || (ostrum.calls == 1 && result != 0));
    FUZZ_CHECK(out.written.size() >= 2 && out.written.compare(out.written.size() - 2, 2, "\n\r") == 0);
    return 0;
}
