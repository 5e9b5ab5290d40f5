// The device identity: 32 lower-case hexadecimal digits derived by SHA-1
// from the network adapter's MAC address, or from a new GUID when no
// adapter address can be had (then it differs on every call).
#pragma once

#include <cstdint>
#include <string>

// The hardware id, computed afresh; true when it came from an adapter
// address, false when a GUID or the fixed digits were used.
bool GetHardwareID(std::wstring& id);
// The stored machine id differs from a freshly computed hardware id
// (exact comparison). Only reports; nothing is stored or corrected.
bool IsHardwareIDChanged();

// The derivation, without the adapter lookup:
// digest input of a 12-character MAC text: the text, then the 16-byte seed
// (the text and four zero bytes) as 32 lower-case hex digits.
std::string HardwareIdInputFromMac(const std::string& mac12);
// digest input of a 16-byte seed (GUID or fixed digits): its 32 hex digits.
std::string HardwareIdInputFromSeed(const uint8_t seed[16]);
// First 16 bytes of SHA-1 of the input, as 32 lower-case hex digits.
std::string HardwareIdFromInput(const std::string& input);
