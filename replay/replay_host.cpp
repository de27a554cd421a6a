// Runs a batch of programs, each with the replay shim loaded before its first
// instruction, in one Wine session: a job per line of standard input, a
// result per line of standard output, in order.
//   job:    <milliseconds>\t<shim or ->\t<stdin file or ->\t<stdout file>\t<stderr file>\t
//           <NAME=VALUE>\x1e...\t<program>\t<argument>\t...   (no tab in any field)
//   result: exit <code> | timeout | cannot start | no shim
// The environment's entries are set for the job and unset after it; a job
// that outlives its milliseconds is ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shim_loading.h"
#include "win32/unique_handle.h"

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

HANDLE inheritable(const std::string& path, bool writing) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The job's variables, set while it runs.
class JobEnvironment {
public:
    explicit JobEnvironment(const std::string& entries) {
        if (entries.empty()) return;
        for (const std::string& entry : split(entries, '\x1e')) {
            const std::size_t equals = entry.find('=');
            if (equals == std::string::npos) continue;
            names_.push_back(entry.substr(0, equals));
            SetEnvironmentVariableA(names_.back().c_str(), entry.substr(equals + 1).c_str());
        }
    }
    ~JobEnvironment() {
        for (const std::string& name : names_) SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    JobEnvironment(const JobEnvironment&) = delete;
    JobEnvironment& operator=(const JobEnvironment&) = delete;
    JobEnvironment(JobEnvironment&&) = delete;
    JobEnvironment& operator=(JobEnvironment&&) = delete;

private:
    std::vector<std::string> names_;
};

std::string run(const std::vector<std::string>& job) {
    const DWORD limit = std::strtoul(job[0].c_str(), nullptr, 10);
    const std::string& shim = job[1];
    const korvel::UniqueHandle input(job[2] == "-" ? inheritable("NUL", false) : inheritable(job[2], false));
    const korvel::UniqueHandle output(inheritable(job[3], true));
    const korvel::UniqueHandle errors(inheritable(job[4], true));
    const JobEnvironment environment(job[5]);
    std::string commandLine = shim_loading::quoted(job[6]);
    for (std::size_t i = 7; i < job.size(); ++i) commandLine += " " + shim_loading::quoted(job[i]);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = errors.get();
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(job[6].c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started)) {
        return "cannot start";
    }
    const korvel::UniqueHandle process(started.hProcess);
    const korvel::UniqueHandle thread(started.hThread);
    if (shim != "-" && !shim_loading::loadShims(process.get(), shim)) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        return "no shim";
    }
    ResumeThread(thread.get());
    if (WaitForSingleObject(process.get(), limit) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        return "timeout";
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return "exit " + std::to_string(code);
}

}  // namespace

int main() {
    char line[32768];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::vector<std::string> job = split(text, '\t');
        const std::string result = job.size() < 7 ? "malformed job" : run(job);
        (void)std::printf("%s\n", result.c_str());
        (void)std::fflush(stdout);
    }
    return 0;
}
