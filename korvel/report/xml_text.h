// Text as well-formed XML holds it. What XML 1.0 cannot hold (control bytes,
// bytes that are no UTF-8, U+FFFE and U+FFFF) is written \xNN, as the
// programs' error lines write control bytes; a carriage return is kept as a
// character reference, which a parser does not fold away.
#pragma once

#include <string>

namespace korvel::report {

// For element content.
std::string xmlText(const std::string& text);
// For an attribute value in double quotes: line breaks and tabs too are kept
// as references, since a parser folds them to spaces.
std::string xmlAttribute(const std::string& text);

}  // namespace korvel::report
