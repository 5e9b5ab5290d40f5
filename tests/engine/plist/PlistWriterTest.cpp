// The binary writer's exact bytes: receivers parse the stream announcement,
// so object order, marker choice and integer sizes must not drift.
#include "engine/plist/PlistTestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <typeinfo>

using namespace plisttest;

namespace {

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ScalarCase {
    const char* name;
    boost::any value;
    Bytes object;  // the one object's bytes
};

TEST(PlistWriter, ScalarRootsAreOneObjectFiles)
{
    const std::string s14 = "abcdefghijklmn", s15 = "abcdefghijklmno";
    const Plist::Data data15(15, '\x07');
    const ScalarCase cases[] = {
        {"int64 0", int64_t(0), FromHex("10 00")},
        {"int32 255", int32_t(255), FromHex("10 FF")},
        {"int32 256", int32_t(256), FromHex("11 01 00")},
        {"int32 65536", int32_t(65536), FromHex("12 00 01 00 00")},
        {"int32 -1", int32_t(-1), FromHex("13 FF FF FF FF FF FF FF FF")},
        {"int16 -2", int16_t(-2), FromHex("13 FF FF FF FF FF FF FF FE")},
        {"int16 0x7FFF", int16_t(0x7FFF), FromHex("11 7F FF")},
        {"long 0x7FFFFFFF", long(0x7FFFFFFF), FromHex("12 7F FF FF FF")},
        {"int32 top bit set", int32_t(INT32_MIN), FromHex("13 FF FF FF FF 80 00 00 00")},
        {"int64 2^32", int64_t(1) << 32, FromHex("13 00 00 00 01 00 00 00 00")},
        {"int64 max", INT64_MAX, FromHex("13 7F FF FF FF FF FF FF FF")},
        {"double 0.0 in 4 bytes", 0.0, FromHex("22 00 00 00 00")},
        {"double 1.5", 1.5, FromHex("23 3F F8 00 00 00 00 00 00")},
        {"double -0.0", -0.0, FromHex("23 80 00 00 00 00 00 00 00")},
        // Its upper half is zero too, but a float cannot hold it.
        {"subnormal 1e-320", 1e-320, FromHex("23 00 00 00 00 00 00 07 E8")},
        {"float widened", 0.5f, FromHex("23 3F E0 00 00 00 00 00 00")},
        {"true", true, FromHex("09")},
        {"false", false, FromHex("08")},
        {"empty string", std::string(), FromHex("50")},
        {"14-char string", s14, Concat(FromHex("5E"), Text(s14))},
        {"15-char string", s15, Concat(FromHex("5F 10 0F"), Text(s15))},
        {"string bytes as they are", std::string("\xC3\xA9"), FromHex("52 C3 A9")},
        {"data", Plist::Data{1, 2, 3}, FromHex("43 01 02 03")},
        {"15-byte data", data15, Concat(FromHex("4F 10 0F"), Bytes(15, 7))},
        {"date at 2001", Plist::Date(978307200), FromHex("33 00 00 00 00 00 00 00 00")},
        {"date 2001 + 1 s", Plist::Date(978307201), FromHex("33 3F F0 00 00 00 00 00 00")},
        {"date at 1970", Plist::Date(0), FromHex("33 C1 CD 27 E4 40 00 00 00")},
        {"empty dictionary", Plist::Dictionary(), FromHex("D0")},
        {"empty array", Plist::Array(), FromHex("A0")},
    };
    for (const ScalarCase& c : cases) {
        const Bytes object = c.object;
        Bytes expected = Concat(Text("bplist00"), object);
        expected.push_back(0x08);  // offset table: the one object at offset 8
        expected = Concat(expected, FromHex("00 00 00 00 00 00 01 01  00 00 00 00 00 00 00 01  00 00 00 00 00 00 00 00"));
        AppendBE(expected, 8 + object.size(), 8);
        EXPECT_EQ(Hex(Serialize(c.value)), Hex(expected)) << c.name;
    }
}

struct FileCase {
    const char* name;
    boost::any value;
    std::string hex;
};

TEST(PlistWriter, ContainersLayOutObjectsInReferenceOrder)
{
    Plist::Dictionary nested;
    nested["b"] = int32_t(1);
    nested["a"] = Plist::Array{true, std::string("x")};

    const FileCase cases[] = {
        {"{a: 1}", Plist::Dictionary{{"a", int64_t(1)}},
         "62 70 6C 69 73 74 30 30  D1 01 02  51 61  10 01  08 0B 0D"
         "  00 00 00 00 00 00 01 01  00 00 00 00 00 00 00 03  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 0F"},
        // root, keys in ascending order, then each value followed by its own objects
        {"{b: 1, a: [true, x]}", nested,
         "62 70 6C 69 73 74 30 30  D2 01 02 03 06  51 61  51 62  A2 04 05  09  51 78  10 01"
         "  08 0D 0F 11 14 15 17"
         "  00 00 00 00 00 00 01 01  00 00 00 00 00 00 00 07  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 19"},
    };
    for (const FileCase& c : cases)
        EXPECT_EQ(Hex(Serialize(c.value)), Hex(FromHex(c.hex))) << c.name;
}

TEST(PlistWriter, LongArrayUsesCountObjectAndWiderSizes)
{
    Plist::Array fifteen(15, boost::any(true));
    const Bytes small = Serialize(fifteen);
    ASSERT_GE(small.size(), 11u);
    EXPECT_EQ(Hex(Bytes(small.begin() + 8, small.begin() + 11)), "AF 10 0F");

    // 301 objects: references need 2 bytes, and offsets beyond 255 need 2 bytes.
    Plist::Array big;
    for (int i = 0; i < 300; ++i)
        big.push_back(int32_t(i));
    const Bytes file = Serialize(big);
    EXPECT_EQ(Hex(Bytes(file.begin() + 8, file.begin() + 16)), "AF 11 01 2C 00 01 00 02");
    const Bytes trailer(file.end() - 32, file.end());
    EXPECT_EQ(trailer[6], 2) << "offsetSize";
    EXPECT_EQ(trailer[7], 2) << "refSize";
    EXPECT_EQ(Describe(ParseBytes(file)).substr(0, 24), "[int64:0,int64:1,int64:2");
}

// The stream announcement as receivers see it (deviceID 00:1C:42:AB:CD:EF,
// session id 0x9ABCDEF0, which goes out as a negative 32-bit integer).
TEST(PlistWriter, StreamAnnouncementBytes)
{
    const std::string expected =
        "62706c6973743030d601020304050607082122233958646576696365494457667073496e666f596c6174656e63794d73"
        "5973657373696f6e49445d74696d657374616d70496e666f5776657273696f6e130000001c42abcdefa8090c0f121518"
        "1b1ed10a0b546e616d655453756253d10d0e546e616d65544234456ed11011546e616d6554456e4470d11314546e616d"
        "65544964456ed11617546e616d655449644470d1191a546e616d655445514470d11c1d546e616d655451756546d11f20"
        "546e616d655453656e74105a13ffffffff9abcdef0a724272a2d303336d12526546e616d65555375625375d12829546e"
        "616d65554265507854d12b2c546e616d65554166507854d12e2f546e616d6555426566456ed13132546e616d6555456d"
        "456e63d13435546e616d65555175654672d13738546e616d6555536e644672563133302e313600080015001e00260030"
        "003a00480050005900620065006a006f00720077007c007f00840089008c009100960099009e00a300a600ab00b000b3"
        "00b800bd00c000c500ca00cc00d500dd00e000e500eb00ee00f300f900fc01010107010a010f01150118011d01230126"
        "012b013101340139013f0000000000000201000000000000003a00000000000000000000000000000146";
    const Bytes actual = Serialize(StreamAnnouncement(0x001C42ABCDEFLL, int32_t(0x9ABCDEF0u)));
    EXPECT_EQ(Hex(actual), Hex(FromHex(expected)));
}

TEST(PlistWriter, UnsupportedTypeNamesTheType)
{
    const boost::any values[] = {uint32_t(5), static_cast<const char*>("text")};
    for (const boost::any& value : values) {
        try {
            Serialize(value);
            ADD_FAILURE() << "no error for " << value.type().name();
        } catch (const Plist::Error& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Plist Error: Can't serialize type ") + value.type().name());
        }
    }
    // Inside a container too, and nothing half-written is handed back.
    std::vector<char> out{'x'};
    EXPECT_THROW(Plist::SerializeBinary(Plist::Array{int32_t(1), uint64_t(2)}, out), Plist::Error);
    EXPECT_EQ(out, std::vector<char>{'x'});
}

}  // namespace
