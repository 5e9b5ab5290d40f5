// Malformed and hostile input: the reply to GET /stream.xml comes from the
// network, so every one of these must end in Plist::Error (never a crash, an
// over-read, a huge allocation or a hang).
#include "engine/plist/PlistReaders.h"
#include "engine/plist/PlistTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace plisttest;

namespace {

std::string ErrorOf(const Bytes& bytes)
{
    try {
        ParseBytes(bytes);
    } catch (const Plist::Error& e) {
        return e.what();
    }
    return "(no error)";
}

// A valid file with one trailer field replaced. Fields by offset in the
// trailer: 6 offsetSize, 7 refSize, 8 object count, 24 offset-table offset.
Bytes PatchTrailer(Bytes file, unsigned field, uint64_t value, unsigned size)
{
    const std::size_t at = file.size() - 32 + field;
    for (unsigned i = 0; i < size; ++i)
        file[at + i] = static_cast<unsigned char>(value >> (8 * (size - 1 - i)));
    return file;
}

// Object k is an array referring to object k+1 (`refsEach` times); the last
// object is `true`.
Bytes ArrayChain(unsigned arrays, unsigned refsEach)
{
    std::vector<Bytes> objects;
    for (unsigned k = 0; k < arrays; ++k) {
        Bytes array{static_cast<unsigned char>(0xA0 | refsEach)};
        array.insert(array.end(), refsEach, static_cast<unsigned char>(k + 1));
        objects.push_back(array);
    }
    objects.push_back({0x09});
    return BuildBinary(objects);
}

Bytes WithBody(unsigned char marker, unsigned char fill, std::size_t count, Bytes prefix = {})
{
    Bytes object(1 + prefix.size() + count, fill);
    object[0] = marker;
    std::copy(prefix.begin(), prefix.end(), object.begin() + 1);
    return object;
}

TEST(PlistHardening, MalformedBinaryIsRejected)
{
    const Bytes valid = Serialize(Plist::Dictionary{{"a", int64_t(1)}});  // 50 bytes, offset table at 15
    ASSERT_EQ(valid.size(), 50u);
    const uint64_t kMax = ~uint64_t(0);

    Bytes tooShort{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    tooShort.resize(39, 0);
    Bytes wideOffsets = BuildBinary({{0x09}}, 1, 8);
    const std::size_t entry = wideOffsets.size() - 32 - 8;

    struct Case {
        const char* name;
        Bytes input;
        const char* message;  // part of the error message
    } cases[] = {
        // trailer
        {"shorter than header and trailer", tooShort, "too short for its header and trailer"},
        {"offsetSize 0", PatchTrailer(valid, 6, 0, 1), "invalid offset size 0"},
        {"offsetSize 9", PatchTrailer(valid, 6, 9, 1), "invalid offset size 9"},
        {"refSize 0", PatchTrailer(valid, 7, 0, 1), "invalid reference size 0"},
        {"refSize 200", PatchTrailer(valid, 7, 200, 1), "invalid reference size 200"},
        {"no objects", PatchTrailer(valid, 8, 0, 8), "declares no objects"},
        {"one object too many", PatchTrailer(valid, 8, 4, 8), "does not fit before the trailer"},
        {"object count 2^64-1", PatchTrailer(valid, 8, kMax, 8), "does not fit before the trailer"},
        {"object count high word", PatchTrailer(valid, 8, (uint64_t(1) << 32) | 3, 8), "does not fit"},
        {"offset table at 0", PatchTrailer(valid, 24, 0, 8), "lies outside the file"},
        {"offset table right after header", PatchTrailer(valid, 24, 8, 8), "lies outside the file"},
        {"offset table in the trailer", PatchTrailer(valid, 24, 19, 8), "lies outside the file"},
        {"offset table at 2^64-1", PatchTrailer(valid, 24, kMax, 8), "lies outside the file"},
        {"offset table too late for its entries", PatchTrailer(valid, 24, 16, 8), "does not fit"},
        // offsets and references
        {"offset into the header", [&] { Bytes b = valid; b[15] = 3; return b; }(), "object 0 has offset 3 outside"},
        {"offset into the offset table", [&] { Bytes b = valid; b[16] = 15; return b; }(), "object 1 has offset 15 outside"},
        {"offset 2^64-1", [&] { Bytes b = wideOffsets; std::memset(&b[entry], 0xFF, 8); return b; }(), "outside the object table"},
        {"reference past the count", BuildBinary({{0xA1, 5}, {0x09}}), "object reference 5 out of range (2 objects)"},
        {"2-byte reference past the count", BuildBinary({{0xA1, 0x01, 0x00}}, 2), "object reference 256 out of range"},
        {"dictionary key reference past the count", BuildBinary({{0xD1, 9, 1}, {0x09}}), "object reference 9 out of range"},
        {"array containing itself", BuildBinary({{0xA1, 0}}), "object 0 refers back to itself"},
        {"cycle through a dictionary", BuildBinary({{0xA1, 1}, {0xD1, 2, 0}, {0x51, 'k'}}), "object 0 refers back to itself"},
        {"65 levels", ArrayChain(64, 1), "nests deeper than 64 levels"},
        {"shared references doubling 40 times", ArrayChain(40, 2), "too many shared references"},
        // sizes
        {"16-byte integer", WithBody(0x14, 0, 16), "16-byte integers are not supported"},
        {"32-byte integer", WithBody(0x15, 0, 32), "32-byte integers are not supported"},
        {"integer cut off by the offset table", WithBody(0x13, 0, 3), "Out of bounds getRange"},
        {"1-byte real", WithBody(0x20, 0, 1), "1-byte reals are not supported"},
        {"2-byte real", WithBody(0x21, 0, 2), "2-byte reals are not supported"},
        {"16-byte real", WithBody(0x24, 0, 16), "16-byte reals are not supported"},
        {"date cut off", WithBody(0x33, 0, 3), "Out of bounds getRange"},
        {"date NaN", WithBody(0x33, 0, 6, {0x7F, 0xF8}), "date out of range"},
        {"date infinite", WithBody(0x33, 0, 6, {0xFF, 0xF0}), "date out of range"},
        {"date 1e300", {0x33, 0x7E, 0x37, 0xE4, 0x3C, 0x88, 0x00, 0x75, 0x9C}, "date out of range"},
        // counts
        {"string reaching into the offset table", WithBody(0x55, 'a', 1), "Out of bounds getRange"},
        {"count object missing", {0x5F}, "Out of bounds getRange"},
        {"count object not an integer", {0x5F, 0x51, 'a'}, "is not an integer"},
        {"negative count", WithBody(0x5F, 0xFF, 8, {0x13}), "negative count"},
        {"16-byte count", WithBody(0x4F, 0, 16, {0x14}), "16-byte integers are not supported"},
        {"array count 2^63-1", WithBody(0xAF, 0xFF, 7, {0x13, 0x7F}), "Out of bounds getRange"},
        {"dictionary count 2^62", WithBody(0xDF, 0x00, 7, {0x13, 0x40}), "Out of bounds getRange"},
        {"UTF-16 count 2^63-1", WithBody(0x6F, 0xFF, 7, {0x13, 0x7F}), "Out of bounds getRange"},
        {"UTF-16 odd byte short", {0x62, 0x00, 0x41, 0x00}, "Out of bounds getRange"},
        {"data count 2^32-1", WithBody(0x4F, 0xFF, 4, {0x12}), "Out of bounds getRange"},
    };
    for (Case& c : cases) {
        // Single objects given bare get wrapped into a file of their own.
        Bytes input = c.input;
        if (input.size() < 8 || std::memcmp(input.data(), "bplist00", 8) != 0)
            input = BuildBinary({input});
        const std::string message = ErrorOf(input);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": got \"" << message << "\"";
    }
}

TEST(PlistHardening, LimitsLeaveValidInputAlone)
{
    // 64 levels (63 arrays and the leaf) is the deepest accepted.
    EXPECT_NE(Describe(ParseBytes(ArrayChain(63, 1))).find("[true,]"), std::string::npos);
    // Moderate sharing, as writers that store equal strings once produce.
    Bytes shared{0xAF, 0x10, 100};
    shared.insert(shared.end(), 100, 1);
    const boost::any value = ParseBytes(BuildBinary({shared, {0x54, 'n', 'a', 'm', 'e'}}));
    EXPECT_EQ(boost::any_cast<const Plist::Array&>(value).size(), 100u);
}

// 8 KiB that name one string 390000 times (a root array of 2000 references
// to an array of 195 references to it): text is charged by its length in
// the file, whatever it converts to, so each is refused after a few hundred
// copies rather than read in full.
TEST(PlistHardening, SharedTextIsChargedByItsLength)
{
    const unsigned kUnits = 2969;
    Bytes root{0xAF, 0x11, 0x07, 0xD0};  // 2000 references to object 1
    root.insert(root.end(), 2000, 1);
    Bytes middle{0xAF, 0x10, 195};       // 195 references to object 2
    middle.insert(middle.end(), 195, 2);
    auto text = [&](unsigned char marker, Bytes unit) {
        Bytes object{static_cast<unsigned char>(marker | 0x0F), 0x11, kUnits >> 8, kUnits & 0xFF};
        for (unsigned i = 0; i < kUnits; ++i)
            object.insert(object.end(), unit.begin(), unit.end());
        return object;
    };
    const struct {
        const char* name;
        Bytes string;
    } cases[] = {
        {"ASCII", text(0x50, {'a'})},
        {"UTF-16 letters", text(0x60, {0x00, 'a'})},
        {"UTF-16 unpaired surrogates (convert to nothing)", text(0x60, {0xDC, 0x00})},
    };
    for (const auto& c : cases) {
        const Bytes file = BuildBinary({root, middle, c.string}, 1, 2);
        ASSERT_LE(file.size(), 8191u) << c.name;
        const std::string message = ErrorOf(file);
        EXPECT_NE(message.find("too many shared references"), std::string::npos) << c.name << ": " << message;
    }
}

TEST(PlistHardening, DeepXmlIsRejectedWithoutRecursing)
{
    auto nested = [](unsigned levels) {
        std::string xml = "<plist>";
        for (unsigned i = 0; i < levels; ++i)
            xml += "<array>";
        for (unsigned i = 0; i < levels; ++i)
            xml += "</array>";
        return xml + "</plist>";
    };
    EXPECT_NO_THROW(ParseText(nested(64)));
    for (unsigned levels : {65u, 200000u}) {
        try {
            ParseText(nested(levels));
            ADD_FAILURE() << levels << " levels accepted";
        } catch (const Plist::Error& e) {
            EXPECT_STREQ(e.what(), "Plist: XML plist nests deeper than 64 levels");
        }
    }
    // Dictionaries count as levels too.
    std::string dicts = "<plist>";
    for (int i = 0; i < 100; ++i)
        dicts += "<dict><key>k</key>";
    dicts += "<true/>";
    for (int i = 0; i < 100; ++i)
        dicts += "</dict>";
    EXPECT_THROW(ParseText(dicts + "</plist>"), Plist::Error);
}

TEST(PlistHardening, MalformedBase64DecodesWhatIsThere)
{
    struct Case {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {"QUJD REVG", "ABCDEF"},
        {"Q", ""},                // a lone character is not a whole byte
        {"QUJDR", "ABC"},
        {"====", ""},
        {"QU=JD", "A"},           // the first '=' ends the data
        {"\x01\x80\xFF!@#$%^&*", ""},
        {"Q\xC3\xA9UJD", "ABC"},  // non-ASCII skipped like any other stray byte
    };
    for (const Case& c : cases) {
        const Plist::Data data = Plist::detail::DecodeBase64(c.text);
        EXPECT_EQ(std::string(data.begin(), data.end()), c.bytes) << c.text;
    }
}

}  // namespace
