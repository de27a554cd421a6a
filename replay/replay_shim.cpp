// Loaded into korvel.exe or korvel-capture.exe by replay_host.exe before the
// program runs: the program's platform becomes the simulated machine of a
// description, so that the shipped binary answers for any machine.
//   KORVEL_MACHINE        the description (a Windows path); unset, the
//                         built-in machine, as for the Linux programs
//   KORVEL_MACHINE_NAME   the name its refusals give it (else KORVEL_MACHINE)
//   KORVEL_REPLAY_RECORD  gets the record of the run (call_record.h) when the
//                         program exits, or why the shim did not load
// Strict: every import of the program from kernel32, ole32 and oleaut32 is
// either answered by the machine or one of the C runtime's own, which
// korvel's logic never calls. Any other import, or a DLL other than those and
// the C runtime's, keeps the shim from loading and the program from running.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "call_record.h"
#include "import_patch.h"
#include "replay_shim.h"
#include "sim/machine_loader.h"
#include "sim/sim_program.h"

namespace korvel::replay {
namespace {

// What the C runtime and the unwinder of a program built like ours import
// for themselves.
const char* const kRuntimeImports[] = {
    "AcquireSRWLockExclusive", "AcquireSRWLockShared", "DeleteCriticalSection", "EnterCriticalSection",
    "ExitProcess", "GetCurrentProcess", "GetLastError", "GetStdHandle", "InitializeCriticalSection",
    "K32EnumProcessModules", "LeaveCriticalSection", "RaiseException", "ReleaseSRWLockExclusive",
    "ReleaseSRWLockShared", "RtlCaptureContext", "RtlLookupFunctionEntry", "RtlRestoreContext", "RtlUnwindEx",
    "RtlVirtualUnwind", "SetUnhandledExceptionFilter", "Sleep", "TerminateProcess", "TlsGetValue", "VirtualProtect",
    "VirtualQuery", "WriteFile", "lstrlenA"};

// Made once the description is read; never freed, as they serve until the last DLL notification.
sim::SimulatedMachine* loaded = nullptr;
std::vector<std::string>* seen = nullptr;
std::string* recordPath = nullptr;

std::string environment(const char* name) {
    char value[4096];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void writeRecord(const std::string& text) {
    const HANDLE file =
        CreateFileA(recordPath->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    (void)WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void writeRun() {
    std::vector<std::string> problems = *seen;
    const std::vector<std::string> held = loaded->problems();
    const std::vector<std::string> stray = strayStrings();
    problems.insert(problems.end(), held.begin(), held.end());
    problems.insert(problems.end(), stray.begin(), stray.end());
    writeRecord(recordText(loaded->log(), problems));
}

std::variant<sim::MachineDescription, std::string> readMachine() {
    const std::string path = environment("KORVEL_MACHINE");
    if (path.empty()) return sim::parseMachine(sim::defaultMachineJson());
    const std::string name = environment("KORVEL_MACHINE_NAME");
    return sim::machineFromText(name.empty() ? path : name, sim::readDescriptionFile(path.c_str()));
}

bool sameName(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

const Answer* answerFor(const char* dll, const char* function) {
    const std::pair<const Answer*, std::size_t> parts[] = {{kKernel32Answers, kKernel32AnswerCount},
                                                            {kComAnswers, kComAnswerCount}};
    for (const auto& [answers, count] : parts) {
        const Answer* found = std::find_if(answers, answers + count, [&](const Answer& answer) {
            return sameName(answer.dll, dll) && std::strcmp(answer.function, function) == 0;
        });
        if (found != answers + count) return found;
    }
    return nullptr;
}

bool runtimeImport(const char* dll, const char* function) {
    return sameName(dll, "kernel32.dll") &&
           std::any_of(std::begin(kRuntimeImports), std::end(kRuntimeImports),
                       [&](const char* name) { return std::strcmp(name, function) == 0; });
}

bool cRuntime(const char* dll) { return _strnicmp(dll, "api-ms-win-crt-", 15) == 0; }

// Points every answered import at its answer; the reason it cannot, or nothing.
std::string answerImports() {
    std::string refusal;
    forEachImport([&](const char* dll, const char* function, IMAGE_THUNK_DATA* slot) {
        if (cRuntime(dll)) return true;
        if (function == nullptr) {
            refusal = std::string("the program imports from ") + dll + " by ordinal";
        } else if (const Answer* answer = answerFor(dll, function)) {
            if (!pointImport(slot, answer->replacement)) refusal = std::string("cannot answer ") + function;
        } else if (!runtimeImport(dll, function)) {
            refusal = std::string("the program imports ") + dll + "!" + function + ", which the machine does not answer";
        }
        return refusal.empty();
    });
    return refusal;
}

BOOL attach() {
    recordPath = new std::string(environment("KORVEL_REPLAY_RECORD"));
    if (recordPath->empty()) return FALSE;
    auto description = readMachine();
    if (const auto* reason = std::get_if<std::string>(&description)) {
        writeRecord(recordLine("refused", oneLine(*reason)));
        return FALSE;
    }
    loaded = new sim::SimulatedMachine(std::move(std::get<sim::MachineDescription>(description)));
    loaded->keepLog();
    seen = new std::vector<std::string>;
    const std::string refusal = answerImports();
    if (!refusal.empty()) {
        writeRecord(recordLine("problem", refusal));
        loaded = nullptr;  // the loader's detach notification that follows has no run to record
        return FALSE;
    }
    return TRUE;
}

}  // namespace

sim::SimulatedMachine& machine() { return *loaded; }

void problem(const std::string& what) { seen->push_back(what); }

void unanswered(const std::string& call) {
    const std::string line = "replay: " + call + " is not answered by the machine\r\n";
    DWORD written = 0;
    (void)WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    problem("unanswered: " + call);
    writeRun();
    TerminateProcess(GetCurrentProcess(), kUnansweredExitCode);
    ExitProcess(kUnansweredExitCode);  // not reached
}

}  // namespace korvel::replay

// Refusing to load tells the host that the program cannot run on the machine.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    try {
        if (reason == DLL_PROCESS_ATTACH) return korvel::replay::attach();
        if (reason == DLL_PROCESS_DETACH && korvel::replay::loaded != nullptr) korvel::replay::writeRun();
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}
