#include "engine/plist/Plist.h"
#include "engine/plist/PlistReaders.h"

#include <cstring>

namespace Plist {

void Parse(const char* bytes, std::size_t length, boost::any& out)
{
    if (bytes == nullptr || length == 0)
        throw Error("Plist: Empty plist data");
    if (length >= 8 && std::memcmp(bytes, "bplist00", 8) == 0)
        out = detail::ParseBinary(reinterpret_cast<const unsigned char*>(bytes), length);
    else
        out = detail::ParseXml(bytes, length);
}

void ParseDictionary(const char* bytes, Dictionary& out, std::size_t length)
{
    boost::any root;
    Parse(bytes, length, root);
    Dictionary* dict = boost::any_cast<Dictionary>(&root);
    if (dict == nullptr)
        throw boost::bad_any_cast();
    out = std::move(*dict);
}

}  // namespace Plist
