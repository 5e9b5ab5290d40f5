// Small shared system utilities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Every two hex characters make one byte (high digit first; any other
// character counts as 0). The first pair goes to the last output byte, so
// lengthChars/2 bytes are written backwards: "0A1b" -> 1B 0A.
void HexToLittleEndian(uint8_t* out, const char* hex, size_t lengthChars);

// Seeds the C runtime's generator with the current time in seconds and
// appends 8 characters of "0123456789ABCDEF" chosen by its next values.
// Not re-entrant: it reseeds the process-wide generator.
void AppendRandomHexDigits(std::string& text);
