// An in-memory machine that answers the probes' kernel32 calls and the
// query's COM calls from a MachineDescription. It keeps books on every handle,
// COM reference, string and module it hands out, can fail its k-th call, and
// records what was asked of it, so the tests can hold the logic to account.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../device_platform.h"
#include "../wmi_platform.h"
#include "machine_description.h"

namespace korvel::sim {

struct CallCounts {
    int createFile = 0;
    int deviceIoControl = 0;
    int closeHandle = 0;
    int getLogicalDriveStrings = 0;
    int coInitialize = 0;
    int getSystemDirectory = 0;
    int loadLibrary = 0;
    int freeLibrary = 0;
    int coInitializeSecurity = 0;
    int createLocator = 0;
    int connectServer = 0;
    int setBlanket = 0;
    int createInstanceEnum = 0;
    int next = 0;
    int get = 0;
};

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

    // Makes the k-th call from now on that can fail (1-based) fail; 0 fails none.
    void failCall(int k) { failAt_ = k == 0 ? 0 : failableCalls_ + k; }
    int failableCalls() const { return failableCalls_; }
    const CallCounts& counts() const { return counts_; }
    // Every call from now on, one line each, for tests that check arguments
    // and order. Off by default: a long run would keep millions of lines.
    void keepLog() { keepingLog_ = true; }
    const std::vector<std::string>& log() const { return log_; }
    // Handles, references, strings and modules still held, and misuse seen.
    std::vector<std::string> problems() const;

    // Optional replacements of platform answers, for tests and fuzzing.
    std::function<bool(int disk, unsigned char* out, uint32_t size)> layoutAnswer;
    std::function<uint32_t(uint32_t length, char* buffer)> driveStringsAnswer;
    std::function<uint32_t(char* buffer, uint32_t size)> systemDirectoryAnswer;
    // Fails the calls it says yes to, by the platform method's name ("next", "get", ...).
    std::function<bool(const std::string& call)> failWhen;
    // Refuses every CreateFileA of the paths and accesses it says yes to.
    std::function<bool(const std::string& path, uint32_t access)> refuseOpen;
    // The success code that "createLocator" and "connectServer" give with their
    // object (S_OK unless it says otherwise).
    std::function<HResult(const std::string& call)> successCodeFor;
    // Called as each enumeration opens (1, 2, 3, ...), so instances can come and go.
    std::function<void(int enumeration, MachineDescription&)> beforeEnumeration;

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

    bool failNow(const char* call);
    HResult successCode(const char* call) const;
    template <class Line>
    void note(Line line) {
        if (keepingLog_) log_.emplace_back(line());
    }
    ComObject newObject(Kind kind, std::size_t position = 0);
    Object* find(ComObject object, Kind kind, const char* call);
    bool answerLayout(std::size_t disk, unsigned char* out, uint32_t outSize) const;

    MachineDescription description_;
    int failAt_ = 0;
    int failableCalls_ = 0;
    CallCounts counts_;
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
