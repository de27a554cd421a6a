// The probe report on the real Win32 platform (under Wine).
#include <cstdio>

#include "probe_report.h"
#include "win32/win32_device_platform.h"
#include "win32/win32_wmi_platform.h"

int main(int argc, char** argv) {
    korvel::Win32DevicePlatform devices;
    korvel::Win32WmiPlatform wmi;
    const std::string report = korvel::probeReport(devices, wmi, std::vector<std::string>(argv + 1, argv + argc));
    (void)std::fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}
