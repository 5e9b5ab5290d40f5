// The two readers behind Plist::Parse, and the limits they share.
#pragma once

#include "engine/plist/Plist.h"

namespace Plist {
namespace detail {

// Deepest nesting of containers either reader follows; deeper input is
// rejected rather than recursed into (it also stops reference cycles).
constexpr unsigned kMaxDepth = 64;

// `length` >= 8 and the bytes begin with "bplist00".
boost::any ParseBinary(const unsigned char* bytes, std::size_t length);
boost::any ParseXml(const char* bytes, std::size_t length);

// Standard alphabet; characters outside it are skipped, the first '=' ends
// the data, a trailing lone character (not a whole byte) is dropped.
Data DecodeBase64(const char* text);

}  // namespace detail
}  // namespace Plist
