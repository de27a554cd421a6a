#include "report/xml_text.h"

#include <gtest/gtest.h>

namespace korvel::report {
namespace {

struct Escape {
    const char* text;
    const char* asText;
    const char* asAttribute;
};

// What a parser would fold or refuse is written so that it comes back as given.
const Escape kEscapes[] = {
    {"\r", "&#13;", "&#13;"},
    {"\n", "\n", "&#10;"},
    {"\t", "\t", "&#9;"},
    {"a&b<c>d\"e", "a&amp;b&lt;c&gt;d&quot;e", "a&amp;b&lt;c&gt;d&quot;e"},
    {"\x01", "\\x01", "\\x01"},
    {"caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},                  // two bytes that end the text
    {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // four bytes that end the text
    {"caf\xC3", "caf\\xC3", "caf\\xC3"},                           // cut short
    {"\xC3\xA9x\xE2\x82", "\xC3\xA9x\\xE2\\x82", "\xC3\xA9x\\xE2\\x82"},
    {"\xC0\xAF", "\\xC0\\xAF", "\\xC0\\xAF"},              // overlong
    {"\xED\x9F\xBF\xEE\x80\x80", "\xED\x9F\xBF\xEE\x80\x80", "\xED\x9F\xBF\xEE\x80\x80"},  // U+D7FF, U+E000
    {"\xED\xA0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},  // a surrogate
    {"\xEF\xBF\xBD", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},  // U+FFFD
    {"\xEF\xBF\xBE", "\\xEF\\xBF\\xBE", "\\xEF\\xBF\\xBE"},  // U+FFFE
    {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
};

TEST(XmlText, EscapesWhatAParserWouldChangeOrRefuse) {
    for (const Escape& escape : kEscapes) {
        EXPECT_EQ(xmlText(escape.text), escape.asText) << escape.text;
        EXPECT_EQ(xmlAttribute(escape.text), escape.asAttribute) << escape.text;
    }
}

}  // namespace
}  // namespace korvel::report
