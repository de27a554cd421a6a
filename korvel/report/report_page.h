// The report as one self-contained page: XHTML served as HTML, UTF-8, inline
// CSS and SVG, no script, nothing fetched. Scripts can read it as XML: each
// verdict row carries data-root, data-exit and data-narration, the id of the
// <pre> that holds korvel's stdout for that letter.
#pragma once

#include <string>

#include "machine_report.h"

namespace korvel::report {

std::string reportPage(const MachineReport& report);

}  // namespace korvel::report
