// An in-memory machine that answers the probes' kernel32 calls and the
// query's COM calls from a MachineDescription. It keeps books on every handle,
// COM reference, string and module it hands out, and can record what was
// asked of it: the replay's record, and what the tests hold the logic to.
// Failing calls, counting them and replacing answers are the tests' own
// (tests/support/instrumented_platforms.h).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../device_platform.h"
#include "../wmi_platform.h"
#include "machine_description.h"

namespace korvel::sim {

// A string still held at the end, in the words of the machine's books; the
// replay shim keeps the books of the system's strings in the same words.
std::string unfreedString(const OleChar* text);

class SimulatedMachine : public DevicePlatform, public WmiPlatform {
public:
    explicit SimulatedMachine(MachineDescription description);
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;
    SimulatedMachine(SimulatedMachine&&) = delete;
    SimulatedMachine& operator=(SimulatedMachine&&) = delete;
    ~SimulatedMachine() override;

    MachineDescription& description() { return description_; }

    // Every call from now on, one line each, for tests that check arguments
    // and order. Off by default: a long run would keep millions of lines.
    void keepLog() { keepingLog_ = true; }
    const std::vector<std::string>& log() const { return log_; }
    // Handles, references, strings and modules still held, and misuse seen.
    std::vector<std::string> problems() const;

    // DevicePlatform
    DeviceHandle createFile(const std::string& path, uint32_t access) override;
    bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) override;
    void closeHandle(DeviceHandle handle) override;
    uint32_t getLogicalDriveStrings(uint32_t length, char* buffer) override;
    std::optional<std::string> getEnvironmentVariable(const std::string& name) override;

    // WmiPlatform
    void coInitialize() override;
    uint32_t getSystemDirectory(char* buffer, uint32_t size) override;
    void appendText(char* buffer, const char* text) override;
    ModuleHandle loadLibrary(const char* path) override;
    ProcAddress getProcAddress(ModuleHandle module, const char* name) override;
    void callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) override;
    void freeLibrary(ModuleHandle module) override;
    HResult createLocator(ComObject* locator) override;
    HResult connectServer(ComObject locator, Bstr ns, ComObject* services) override;
    HResult queryClientSecurity(ComObject services, ComObject* security) override;
    void setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) override;
    HResult createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) override;
    HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) override;
    HResult get(ComObject object, const OleChar* name, Variant* value) override;
    void release(ComObject object) override;
    Bstr sysAllocString(const OleChar* text) override;
    void sysFreeString(Bstr text) override;
    uint32_t sysStringLen(Bstr text) override;
    void variantClear(Variant* value) override;

private:
    struct OpenDevice {
        bool isDisk;
        std::size_t index;
    };
    enum class Kind { kLocator, kServices, kClientSecurity, kEnumerator, kInstance };
    struct Object {
        Kind kind;
        int references;
        std::size_t position;  // enumerator: next instance; instance: its index
    };

    template <class Line>
    void note(Line line) {
        if (keepingLog_) log_.emplace_back(line());
    }
    ComObject newObject(Kind kind, std::size_t position = 0);
    Object* find(ComObject object, Kind kind, const char* call);
    bool answerLayout(std::size_t disk, unsigned char* out, uint32_t outSize) const;

    MachineDescription description_;
    bool keepingLog_ = false;
    std::vector<std::string> log_;
    std::vector<std::string> misuse_;

    // Handles and interface pointers are the addresses of these records.
    std::map<const void*, std::unique_ptr<OpenDevice>> handles_;
    std::map<const void*, std::unique_ptr<Object>> objects_;
    std::map<const OleChar*, std::unique_ptr<OleString>> strings_;
    int modules_ = 0;
    char ole32Module_ = 0;
    char coInitializeSecurityEntry_ = 0;
};

}  // namespace korvel::sim
