// What "/?" prints for each of our tools.
#include "tool_command_line.h"

namespace korvel {

const ToolSyntax kCaptureSyntax{
    "korvel-capture",
    "Usage: korvel-capture > machine.json\n"
    "\n"
    "Describes the machine's disks, volumes and WMI disk partitions as korvel\n"
    "sees them, in JSON that the Linux korvel replays (KORVEL_MACHINE). It\n"
    "changes nothing. Run it elevated, as korvel. The Linux build describes the\n"
    "simulated machine of KORVEL_MACHINE, or the built-in one.\n"
    "\n"
    "  /?, -h, --help   show this text\n"
    "  --version        show the program's name and version\n"
    "\n"
    "Exit code 0 with the description on standard output; 1 with one line on\n"
    "standard error and nothing on standard output.\n",
    0};

const ToolSyntax kReportSyntax{
    "korvel-report",
    "Usage: korvel-report [MACHINE.json | -] > report.html\n"
    "\n"
    "Draws a machine description (\"-\": from standard input; none: the one\n"
    "KORVEL_MACHINE names, or the built-in machine) as a page that tells for\n"
    "every drive root what korvel answers and why. It reads only the\n"
    "description, never the machine it runs on.\n"
    "\n"
    "  /?, -h, --help   show this text\n"
    "  --version        show the program's name and version\n"
    "\n"
    "Exit code 0 with the page on standard output; 1 with one line on standard\n"
    "error and nothing on standard output.\n",
    1};

}  // namespace korvel
