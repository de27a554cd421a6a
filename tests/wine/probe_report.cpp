#include "probe_report.h"

#include "boot_query.h"
#include "counting_platforms.h"
#include "probes.h"
#include "support/capture.h"

namespace korvel {
namespace {

// "D,P" as two numbers.
std::pair<int, int> numberPair(const std::string& text) {
    const auto comma = text.find(',');
    return {std::stoi(text.substr(0, comma)), std::stoi(text.substr(comma + 1))};
}

std::string answer(CountingDevices& devices, CountingWmi& wmi, const std::string& question) {
    const auto equals = question.find('=');
    const std::string kind = question.substr(0, equals);
    const std::string operand = equals == std::string::npos ? std::string() : question.substr(equals + 1);
    if (kind == "external") return std::to_string(isExternalDrive(devices, operand.c_str()));
    if (kind == "drives") return std::to_string(countPhysicalDrives(devices));
    if (kind == "partitions") {
        const int before = devices.layoutRequests;
        const int count = countPartitions(devices, std::stoi(operand));
        return std::to_string(count) + " after " + std::to_string(devices.layoutRequests - before) +
               " layout requests";
    }
    const auto [first, second] = numberPair(operand);
    if (kind == "letter") return findDriveLetter(devices, first, second).value_or("(none)");
    if (kind == "boot") {
        const int connections = wmi.connections;
        const int enumerations = wmi.enumerations;
        Capturing<Console> narration;
        const bool boot = isBootPartition(wmi, narration, first, second);
        std::string text = std::string(boot ? "true" : "false") + " after " +
                           std::to_string(wmi.connections - connections) + " connections, " +
                           std::to_string(wmi.enumerations - enumerations) + " enumerations";
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
    CountingDevices countedDevices(devices);
    CountingWmi countedWmi(wmi);
    std::string report;
    for (const std::string& question : questions) {
        report += question + " -> " + answer(countedDevices, countedWmi, question) + "\n";
    }
    report += "held: " + std::to_string(countedDevices.open) + " handles, " + std::to_string(countedWmi.references) +
              " references, " + std::to_string(countedWmi.strings) + " strings\n";
    return report;
}

}  // namespace korvel
