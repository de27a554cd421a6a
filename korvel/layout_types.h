// Partition types as people know them: the MBR type bytes and GPT type
// GUIDs a Windows disk usually holds.
#pragma once

#include <string>

namespace korvel {

// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" from a GUID's 16 bytes in memory.
std::string guidText(const unsigned char* bytes);

// A name for a known MBR type byte, else "type 0xNN".
std::string mbrTypeName(unsigned char type);
// A name for a known GPT type GUID (16 bytes in memory), else the GUID.
std::string gptTypeName(const unsigned char* type);

}  // namespace korvel
