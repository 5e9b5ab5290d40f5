// XML property lists (read only): <plist><dict>...</dict></plist> and friends.
#include "engine/plist/Plist.h"
#include "engine/plist/PlistReaders.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

namespace Plist {
namespace detail {

Data DecodeBase64(const char* text)
{
    Data out;
    uint32_t group = 0;   // bits of the characters gathered so far
    unsigned have = 0;    // characters in `group`
    for (const char* p = text; *p != '\0' && *p != '='; ++p) {
        const char c = *p;
        unsigned sextet;
        if (c >= 'A' && c <= 'Z') sextet = c - 'A';
        else if (c >= 'a' && c <= 'z') sextet = c - 'a' + 26;
        else if (c >= '0' && c <= '9') sextet = c - '0' + 52;
        else if (c == '+') sextet = 62;
        else if (c == '/') sextet = 63;
        else continue;  // line breaks, blanks and stray characters
        group = (group << 6) | sextet;
        if (++have == 4) {
            out.push_back(static_cast<char>(group >> 16));
            out.push_back(static_cast<char>(group >> 8));
            out.push_back(static_cast<char>(group));
            group = 0;
            have = 0;
        }
    }
    // A final group of 2 or 3 characters holds 1 or 2 bytes.
    if (have == 2) {
        out.push_back(static_cast<char>(group >> 4));
    } else if (have == 3) {
        out.push_back(static_cast<char>(group >> 10));
        out.push_back(static_cast<char>(group >> 2));
    }
    return out;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Like atol, but 64 bits wide on every platform: leading blanks, an optional
// sign, decimal digits up to the first other character, 0 when there are
// none; values beyond the range saturate.
int64_t ParseInteger(const char* text)
{
    const char* p = text;
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    for (; *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = *p - '0';
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
    return static_cast<int64_t>(magnitude);
}

// Like atof (leading blanks, optional sign, 0 when there is no number), but
// independent of the process's locale: a receiver writes "1.5" whatever the
// decimal separator of this machine.
double ParseReal(const char* text)
{
    const char* p = text;
    while (IsBlank(*p))
        ++p;
    if (*p == '+') {
        ++p;
        if (*p == '-')
            return 0.0;
    }
    double value = 0.0;
    const auto result = std::from_chars(p, p + std::strlen(p), value);
    return result.ec == std::errc() ? value : 0.0;
}

// Text of a node's first child ("" when it has none).
const char* Text(const pugi::xml_node& node) { return node.first_child().value(); }

boost::any ReadNode(const pugi::xml_node& node, unsigned depth);

Dictionary ReadDictionary(const pugi::xml_node& node, unsigned depth)
{
    Dictionary dict;
    for (pugi::xml_node keyNode = node.first_child(); keyNode; keyNode = keyNode.next_sibling()) {
        if (std::strcmp(keyNode.name(), "key") != 0)
            throw Error("Plist: XML dictionary key expected but not found");
        std::string key = Text(keyNode);
        const pugi::xml_node valueNode = keyNode.next_sibling();
        if (!valueNode)
            throw Error("Plist: XML dictionary value expected for key " + key + "but not found");
        if (std::strcmp(valueNode.name(), "key") == 0)
            throw Error("Plist: XML dictionary value expected for key " + key + "but found another key node");
        dict[std::move(key)] = ReadNode(valueNode, depth + 1);
        keyNode = valueNode;
    }
    return dict;
}

boost::any ReadNode(const pugi::xml_node& node, unsigned depth)
{
    if (depth > kMaxDepth)
        throw Error("Plist: XML plist nests deeper than " + std::to_string(kMaxDepth) + " levels");

    const char* name = node.name();
    if (std::strcmp(name, "dict") == 0)
        return ReadDictionary(node, depth);
    if (std::strcmp(name, "array") == 0) {
        Array array;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
            array.push_back(ReadNode(child, depth + 1));
        return array;
    }
    if (std::strcmp(name, "string") == 0)
        return std::string(Text(node));
    if (std::strcmp(name, "integer") == 0)
        return ParseInteger(Text(node));
    if (std::strcmp(name, "real") == 0)
        return ParseReal(Text(node));
    if (std::strcmp(name, "true") == 0)
        return true;
    if (std::strcmp(name, "false") == 0)
        return false;
    if (std::strcmp(name, "data") == 0)
        return DecodeBase64(Text(node));
    if (std::strcmp(name, "date") == 0) {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        if (std::sscanf(Text(node), "%4d-%2d-%2dT%2d:%2d:%2dZ", &year, &month, &day, &hour, &minute, &second) != 6)
            throw Error(std::string("Plist: XML date not understood: ") + Text(node));
        Date date;
        date.set(month, day, year, hour, minute, second);
        return date;
    }
    throw Error(std::string("Plist: XML unknown node type ") + name);
}

}  // namespace

// pugixml parses without recursion, so only our own walk needs a depth bound.
boost::any ParseXml(const char* bytes, std::size_t length)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_buffer(bytes, length);
    if (!result)
        throw Error(std::string("Plist: XML parsed with error ") + result.description());
    // The value is the element inside the document's first element (<plist>).
    return ReadNode(doc.first_child().first_child(), 1);
}

}  // namespace detail
}  // namespace Plist
