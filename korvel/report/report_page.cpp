#include "report_page.h"

#include <algorithm>

#include "xml_text.h"

namespace korvel::report {
namespace {

const char kStyle[] = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 2em; color: #1c2430; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccd; }
table { border-collapse: collapse; margin: 0.5em 0; } td, th { border: 1px solid #ccd; padding: 0.2em 0.6em; }
th { background: #eef0f5; text-align: left; } .yes { color: #0a6b2d; font-weight: bold; }
figure { margin: 1em 0; overflow-x: auto; } figcaption { font-size: 0.9em; color: #445; }
pre { background: #f6f7f9; border: 1px solid #dde; padding: 0.6em; overflow-x: auto; }
svg text { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 11px; fill: #1c2430; }
svg .label { font-size: 13px; font-weight: bold; }
svg .counted { fill: #d7e6fb; stroke: #3569b5; } svg .skipped { fill: #eeeeee; stroke: #999999; }
svg .found { fill: #dff3e4; stroke: #2f8a4c; } svg .none { fill: #ffffff; stroke: #bbbbbb; stroke-dasharray: 3 2; }
svg .absent { fill: #fafafa; stroke: #aa5555; stroke-dasharray: 6 3; }
)";

constexpr int kBox = 150;  // width of one entry's box, and of one walked partition's
constexpr int kGap = 8;

std::string number(int value) { return std::to_string(value); }

// Capitalised, with a full stop.
std::string sentenceOf(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text + ".";
}

std::string svgText(int x, int y, const std::string& text, const char* cls = nullptr) {
    return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"" +
           (cls ? std::string(" class=\"") + cls + "\"" : std::string()) + ">" + xmlText(text) + "</text>";
}

std::string svgBox(int x, int y, int width, int height, const char* cls) {
    return "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" rx=\"4\" class=\"" + cls + "\"/>";
}

// A name that fits a box: a raw GUID goes on two lines.
std::string entryLabel(int x, int y, const std::string& type) {
    if (type.size() <= 22) return svgText(x, y, type);
    return svgText(x, y, type.substr(0, 19)) + svgText(x, y + 13, type.substr(19));
}

std::string stateLine(const DiskPicture& disk) {
    switch (disk.state) {
    case DiskPicture::State::kDoesNotOpen:
        return "does not open: the walk over the disks ends here";
    case DiskPicture::State::kBehindTheGap:
        return std::string("behind the first gap: korvel never counts it") + (disk.opens ? "" : " (does not open)");
    case DiskPicture::State::kLayoutNotRead:
        return "opens, but its layout is not read: no partitions to walk";
    case DiskPicture::State::kWalked:
        break;
    }
    const auto counted = std::count_if(disk.entries.begin(), disk.entries.end(),
                                       [](const LayoutEntry& entry) { return entry.counted; });
    return std::string(disk.gpt ? "GPT" : "MBR") + ", " + std::to_string(counted) + " of " +
           std::to_string(disk.entries.size()) + " entries counted: partitions 1 to " + number(disk.count) +
           " walked";
}

std::string diskDrawing(const DiskPicture& disk) {
    const int columns = std::max<int>({1, static_cast<int>(disk.entries.size()), static_cast<int>(disk.roots.size())});
    const int width = std::max(520, 20 + columns * (kBox + kGap));
    const bool walked = disk.state == DiskPicture::State::kWalked;
    const int height = walked ? 170 : 110;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
                      number(height) + "\" role=\"img\">";
    svg += svgText(10, 18, "Disk " + number(disk.number) + " \u00b7 \\\\.\\PhysicalDrive" + number(disk.number), "label");
    svg += svgText(10, 36, stateLine(disk));
    if (disk.entries.empty()) {
        svg += svgBox(10, 46, kBox * 2, 40, disk.opens && disk.state != DiskPicture::State::kBehindTheGap ? "none" : "absent");
        svg += svgText(18, 70, disk.state == DiskPicture::State::kWalked ? "empty layout" : "no layout entries");
    }
    for (std::size_t i = 0; i < disk.entries.size(); ++i) {
        const int x = 10 + static_cast<int>(i) * (kBox + kGap);
        const LayoutEntry& entry = disk.entries[i];
        svg += svgBox(x, 46, kBox, 44, entry.counted ? "counted" : "skipped");
        const char* counting = entry.counted ? (walked ? ", counted" : ", would count") : ", not counted";
        svg += svgText(x + 6, 60, "entry " + number(static_cast<int>(i) + 1) + counting);
        svg += entryLabel(x + 6, 74, entry.type);
    }
    if (walked) {
        svg += svgText(10, 110, "The walk asks which volume reports (disk " + number(disk.number) + ", partition p):");
        for (std::size_t i = 0; i < disk.roots.size(); ++i) {
            const int x = 10 + static_cast<int>(i) * (kBox + kGap);
            const std::string& root = disk.roots[i];
            svg += svgBox(x, 118, kBox, 36, root.empty() ? "none" : "found");
            svg += svgText(x + 6, 140, "p " + number(static_cast<int>(i) + 1) + ": " + (root.empty() ? "none" : root));
        }
    }
    return svg + "</svg>";
}

std::string wmiTable(const std::vector<WmiEntry>& entries) {
    std::string table = "<table><tr><th>DiskIndex</th><th>StartingOffset</th><th>BootPartition</th></tr>";
    for (const WmiEntry& entry : entries) {
        table += "<tr><td>" + xmlText(entry.diskIndex) + "</td><td>" + xmlText(entry.startingOffset) + "</td><td>" +
                 xmlText(entry.bootPartition) + "</td></tr>";
    }
    return table + "</table>";
}

std::string disksSection(const MachineReport& report) {
    std::string html = "<h2>Disks</h2><p>";
    html += report.walkedDisks == 0 ? std::string("korvel walks no disk: disk 0 does not open.")
                                    : "korvel walks disks 0 to " + number(report.walkedDisks - 1) + " (" +
                                          number(report.walkedDisks) + " disk" + (report.walkedDisks == 1 ? "" : "s") +
                                          "): it counts disks up to the first that does not open.";
    html += "</p>";
    if (report.disks.empty()) html += "<p>The description lists no disks.</p>";
    for (const DiskPicture& disk : report.disks) {
        html += "<figure>" + diskDrawing(disk) + "<figcaption>WMI entries of disk " + number(disk.number) + ": ";
        html += disk.wmi.empty() ? std::string("none") : number(static_cast<int>(disk.wmi.size()));
        html += "</figcaption>" + (disk.wmi.empty() ? std::string() : wmiTable(disk.wmi)) + "</figure>";
    }
    if (!report.wmiWithoutDisk.empty()) {
        html += "<p>WMI entries that name no listed disk:</p>" + wmiTable(report.wmiWithoutDisk);
    }
    return html;
}

std::string systemDriveSection(const MachineReport& report) {
    const SystemPartition& found = report.found;
    std::string text;
    if (found.step == SystemPartition::Step::kNoSystemDrive) {
        text = "SystemDrive is not set, so no disk is the system disk.";
    } else if (found.step == SystemPartition::Step::kNoSystemDisk) {
        text = "SystemDrive is " + found.systemDrive +
               ". No counted disk has a partition whose drive root starts with it, so no disk is the system disk.";
    } else {
        text = "SystemDrive is " + found.systemDrive + ". The walk finds it as partition " +
               number(found.systemPartition) + " of disk " + number(found.systemDisk) + " (" + found.systemRoot +
               "): disk " + number(found.systemDisk) + " is the system disk.";
    }
    return "<h2>The system drive</h2><p>" + xmlText(text) + "</p>";
}

std::string bootWalkSection(const MachineReport& report) {
    const SystemPartition& found = report.found;
    if (found.systemDisk < 0) return std::string();
    std::string html = "<h2>The boot walk on disk " + number(found.systemDisk) + "</h2>";
    if (report.bootWalk.empty()) return html + "<p>The system disk has no partitions to ask about.</p>";
    html += "<table><tr><th>Partition</th><th>Expected starting offset</th><th>WMI confirms it as the boot "
            "partition</th></tr>";
    for (const BootStep& step : report.bootWalk) {
        html += "<tr><td>" + number(step.partition) + "</td><td>" +
                (step.expectedOffset.empty() ? std::string("none printed") : xmlText(step.expectedOffset)) +
                "</td><td" + (step.confirmed ? " class=\"yes\">yes" : ">no") + "</td></tr>";
    }
    html += "</table>";
    if (found.step == SystemPartition::Step::kFound) {
        html += "<p>" +
                xmlText(sentenceOf(describeBootPartition(report) + ": " +
                                   (found.bootRoot.empty() ? "it has no drive letter" : found.bootRoot))) +
                "</p>";
    }
    return html;
}

std::string narrationId(std::size_t index) { return "narration-" + std::to_string(index + 1); }

std::string verdictsSection(const MachineReport& report) {
    std::string html = "<h2>Verdicts</h2>";
    if (report.verdicts.empty()) return html + "<p>The description lists no drive roots.</p>";
    html += "<table><tr><th>Drive root</th><th>korvel /checkLetter</th><th>Exit code</th><th>Why</th><th>What "
            "korvel prints</th></tr>";
    for (const Verdict& verdict : report.verdicts) {
        const std::string id = narrationId(verdict.narration);
        html += "<tr data-root=\"" + xmlAttribute(verdict.root) + "\" data-exit=\"" + number(verdict.exitCode) +
                "\" data-narration=\"" + id + "\"><td>" + xmlText(verdict.root) + "</td><td>" +
                xmlText(verdict.root.substr(0, 1) + ":") + "</td><td" +
                (verdict.exitCode == 1 ? " class=\"yes\">1" : ">0") + "</td><td>" + xmlText(sentenceOf(verdict.sentence)) +
                "</td><td><a href=\"#";
        html.append(id).append("\">").append(id).append("</a></td></tr>");
    }
    html += "</table>";
    for (std::size_t i = 0; i < report.narrations.size(); ++i) {
        html += "<p>" + narrationId(i) + ":</p><pre id=\"" + narrationId(i) + "\">" + xmlText(report.narrations[i]) +
                "</pre>";
    }
    return html;
}

std::string notesSection(const MachineReport& report) {
    std::string html = "<h2>Notes on the description</h2>";
    if (report.notes.empty()) return html + "<p>Nothing unusual.</p>";
    html += "<ul>";
    for (const std::string& note : report.notes) html += "<li>" + xmlText(note) + "</li>";
    return html + "</ul>";
}

}  // namespace

std::string reportPage(const MachineReport& report) {
    return "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
           "<meta charset=\"utf-8\"/>\n<title>korvel: how it answers on this machine</title>\n<style>" +
           std::string(kStyle) + "</style>\n</head>\n<body>\n<h1>How korvel answers on this machine</h1>\n" +
           disksSection(report) + "\n" + systemDriveSection(report) + "\n" + bootWalkSection(report) + "\n" +
           verdictsSection(report) + "\n" + notesSection(report) + "\n</body>\n</html>\n";
}

}  // namespace korvel::report
