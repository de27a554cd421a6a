#include "probe_report.h"

#include "boot_query.h"
#include "probes.h"
#include "support/capture.h"
#include "support/instrumented_platforms.h"

namespace korvel {
namespace {

// "D,P" as two numbers.
std::pair<int, int> numberPair(const std::string& text) {
    const auto comma = text.find(',');
    return {std::stoi(text.substr(0, comma)), std::stoi(text.substr(comma + 1))};
}

std::string answer(test::InstrumentedPlatforms& platforms, const std::string& question) {
    const test::CallCounts& counts = platforms.counts();
    const auto equals = question.find('=');
    const std::string kind = question.substr(0, equals);
    const std::string operand = equals == std::string::npos ? std::string() : question.substr(equals + 1);
    if (kind == "external") return std::to_string(isExternalDrive(platforms, operand.c_str()));
    if (kind == "drives") return std::to_string(countPhysicalDrives(platforms));
    if (kind == "partitions") {  // which asks nothing but the layout
        const int before = counts.deviceIoControl;
        const int count = countPartitions(platforms, std::stoi(operand));
        return std::to_string(count) + " after " + std::to_string(counts.deviceIoControl - before) +
               " layout requests";
    }
    const auto [first, second] = numberPair(operand);
    if (kind == "letter") return findDriveLetter(platforms, first, second).value_or("(none)");
    if (kind == "boot") {
        const int connections = counts.connectServer;
        const int enumerations = counts.createInstanceEnum;
        Capturing<Console> narration;
        const bool boot = isBootPartition(platforms, narration, first, second);
        std::string text = std::string(boot ? "true" : "false") + " after " +
                           std::to_string(counts.connectServer - connections) + " connections, " +
                           std::to_string(counts.createInstanceEnum - enumerations) + " enumerations";
        for (std::size_t start = 0; start < narration.written.size();) {
            const auto end = narration.written.find('\n', start);
            text += "\n  | " + narration.written.substr(start, end - start);
            start = end == std::string::npos ? narration.written.size() : end + 1;
        }
        return text;
    }
    return "(unknown question)";
}

}  // namespace

std::string probeReport(DevicePlatform& devices, WmiPlatform& wmi, const std::vector<std::string>& questions) {
    test::InstrumentedPlatforms counted(devices, wmi);
    std::string report;
    for (const std::string& question : questions) report += question + " -> " + answer(counted, question) + "\n";
    const test::Held& held = counted.held();
    report += "held: " + std::to_string(held.handles) + " handles, " + std::to_string(held.references) +
              " references, " + std::to_string(held.strings) + " strings\n";
    return report;
}

}  // namespace korvel
