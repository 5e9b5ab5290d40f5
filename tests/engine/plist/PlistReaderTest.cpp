// Reading binary and XML property lists: round trips, the receiver replies
// the handshake reads, and the messages of the documented errors.
#include "engine/plist/PlistTestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace plisttest;

namespace {

// What the readers give back for a value written by the writer: integers as
// 64-bit, floats as doubles.
TEST(PlistReader, BinaryRoundTripKeepsEveryType)
{
    Plist::Dictionary inner;
    inner["empty array"] = Plist::Array();
    inner["empty dict"] = Plist::Dictionary();
    inner["nested"] = Plist::Array{Plist::Array{Plist::Dictionary{{"deep", std::string("yes")}}}};

    Plist::Dictionary root;
    root["B upper before lower"] = true;
    root["bytes"] = Plist::Data{0, 1, 2, '\xFF'};
    root["date 1970"] = Plist::Date(0);
    root["date before 1970"] = Plist::Date(-86400 * 365);
    root["date now-ish"] = Plist::Date(1700000000);
    root["false"] = false;
    root["float"] = 0.25f;
    root["i16"] = int16_t(-300);
    root["i32"] = int32_t(123456);
    root["i64 min"] = INT64_MIN;
    root["inner"] = inner;
    root["long"] = long(-7);
    root["real"] = -1234.5678;
    root["real zero"] = 0.0;
    root["real subnormal"] = 1e-320;
    root["string"] = std::string("h\xC3\xA9llo\0x", 8);
    root["long string"] = std::string(300, 'q');
    root["long array"] = Plist::Array(20, boost::any(std::string("same")));

    Plist::Dictionary expected = root;
    expected["float"] = 0.25;
    expected["i16"] = int64_t(-300);
    expected["i32"] = int64_t(123456);
    expected["long"] = int64_t(-7);

    EXPECT_EQ(Describe(ParseBytes(Serialize(root))), Describe(expected));
}

TEST(PlistReader, StreamAnnouncementReadsBack)
{
    const Plist::Dictionary body = StreamAnnouncement(0x001C42ABCDEFLL, int32_t(0x9ABCDEF0u));
    const Bytes bytes = Serialize(body);
    Plist::Dictionary read;
    Plist::ParseDictionary(reinterpret_cast<const char*>(bytes.data()), read, bytes.size());

    Plist::Dictionary expected = body;
    expected["latencyMs"] = int64_t(90);
    expected["sessionID"] = int64_t(int32_t(0x9ABCDEF0u));
    EXPECT_EQ(Describe(read), Describe(expected));
}

// The screen description a receiver sends in reply to GET /stream.xml.
TEST(PlistReader, XmlReceiverReply)
{
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "\t<key>height</key>\n\t<integer>1080</integer>\n"
        "\t<key>overscanned</key>\n\t<false/>\n"
        "\t<key>refreshRate</key>\n\t<real>0.016666666666666666</real>\n"
        "\t<key>version</key>\n\t<string>150.33</string>\n"
        "\t<key>width</key>\n\t<integer>1920</integer>\n"
        "</dict>\n</plist>\n";
    Plist::Dictionary dict;
    Plist::ParseDictionary(reply.data(), dict, reply.size());
    EXPECT_EQ(Describe(dict),
              "{\"height\"=int64:1080,\"overscanned\"=false,\"refreshRate\"=real:0.016666666666666666,"
              "\"version\"=string:31 35 30 2E 33 33,\"width\"=int64:1920,}");
}

TEST(PlistReader, XmlValueKinds)
{
    const std::string xml =
        "<plist><dict>"
        "<key>array</key><array><true/><string>s</string><array/></array>"
        "<key>big</key><integer>9007199254740993</integer>"
        "<key>data</key><data>AAEC\n  /w==</data>"
        "<key>data blank between groups</key><data>QUJD REVG</data>"
        "<key>date</key><date>2024-02-29T12:34:56Z</date>"
        "<key>empty</key><string></string>"
        "<key>entity</key><string>a&amp;b&lt;</string>"
        "<key>negative</key><integer>-42</integer>"
        "<key>number prefix</key><integer> 12abc</integer>"
        "<key>real</key><real>-2.5e3</real>"
        "<key>saturates</key><integer>99999999999999999999</integer>"
        "<key>utf8</key><string>\xC3\xA9</string>"
        "<key>dup</key><integer>1</integer><key>dup</key><integer>2</integer>"
        "</dict></plist>";
    const boost::any value = ParseText(xml);
    EXPECT_EQ(Describe(value),
              "{\"array\"=[true,string:73,[],],"
              "\"big\"=int64:9007199254740993,"
              "\"data\"=data:00 01 02 FF,"
              "\"data blank between groups\"=data:41 42 43 44 45 46,"
              "\"date\"=date:1709210096,"
              "\"dup\"=int64:2,"
              "\"empty\"=string:,"
              "\"entity\"=string:61 26 62 3C,"
              "\"negative\"=int64:-42,"
              "\"number prefix\"=int64:12,"
              "\"real\"=real:-2500,"
              "\"saturates\"=int64:9223372036854775807,"
              "\"utf8\"=string:C3 A9,}");
}

// Binary objects other writers produce (our writer never does).
TEST(PlistReader, BinaryObjectsFromOtherWriters)
{
    struct Case {
        const char* name;
        Bytes object;
        const char* expected;
    } cases[] = {
        {"4-byte integer is unsigned", {0x12, 0xFF, 0xFF, 0xFF, 0xFF}, "int64:4294967295"},
        {"8-byte integer is signed", {0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, "int64:-2"},
        {"4-byte real is a float", {0x22, 0x3F, 0xC0, 0x00, 0x00}, "real:1.5"},
        {"date truncates toward zero", {0x33, 0xBF, 0xE0, 0, 0, 0, 0, 0, 0}, "date:978307199"},
        {"UTF-16 string to UTF-8", {0x63, 0x00, 0xE9, 0xD8, 0x3D, 0xDE, 0x00}, "string:C3 A9 F0 9F 98 80"},
        {"unpaired surrogate skipped", {0x62, 0xDE, 0x00, 0x00, 0x41}, "string:41"},
        {"ASCII string keeps high bytes", {0x52, 0xC3, 0xA9}, "string:C3 A9"},
        {"data with count object", {0x4F, 0x10, 0x02, 0xAA, 0xBB}, "data:AA BB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Describe(ParseBytes(BuildBinary({c.object}))), c.expected) << c.name;

    // A dictionary whose keys share one string object, and a repeated key.
    const Bytes shared = BuildBinary({{0xD3, 1, 1, 2, 3, 4, 5}, {0x51, 'k'}, {0x51, 'm'}, {0x10, 1}, {0x10, 2}, {0x10, 3}});
    EXPECT_EQ(Describe(ParseBytes(shared)), "{\"k\"=int64:2,\"m\"=int64:3,}");
}

std::string ErrorOf(const Bytes& bytes)
{
    try {
        ParseBytes(bytes);
    } catch (const Plist::Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(PlistReader, ErrorMessages)
{
    struct Case {
        const char* name;
        Bytes input;
        std::string message;
    } cases[] = {
        {"empty", {}, "Plist: Empty plist data"},
        {"null byte", BuildBinary({{0x00}}), "Plist: null byte encountered, unsure how to parse"},
        {"fill byte", BuildBinary({{0x0F}}), "Plist: fill byte encountered, unsure how to parse"},
        {"unknown 0x0_", BuildBinary({{0x05}}), "Plist: unknown header 5"},
        {"UID object", BuildBinary({{0x80, 0x01}}), "This type is not supported"},
        {"set object", BuildBinary({{0xC0}}), "This type is not supported"},
        {"string past the object table", BuildBinary({{0x5F, 0x10, 0x40, 'a', 'b'}}), "Out of bounds getRange"},
        {"XML unknown element", Bytes{'<', 'p', '>', '<', 'x', '/', '>', '<', '/', 'p', '>'},
         "Plist: XML unknown node type x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorOf(c.input), c.message) << c.name;

    struct XmlCase {
        const char* xml;
        const char* message;
    } xmlCases[] = {
        {"<plist><dict><key>width</key></dict></plist>",
         "Plist: XML dictionary value expected for key widthbut not found"},
        {"<plist><dict><key>width</key><key>height</key><integer>1</integer></dict></plist>",
         "Plist: XML dictionary value expected for key widthbut found another key node"},
        {"<plist><dict><integer>1</integer></dict></plist>", "Plist: XML dictionary key expected but not found"},
        {"<plist><dict><key>a</key><set/></dict></plist>", "Plist: XML unknown node type set"},
        {"<plist></plist>", "Plist: XML unknown node type "},
        {"<plist><dict>", "Plist: XML parsed with error Start-end tags mismatch"},
        {"not a plist", "Plist: XML parsed with error No document element found"},
        {"<plist><date>yesterday</date></plist>", "Plist: XML date not understood: yesterday"},
        {"<plist><date>0000-01-01T00:00:00Z</date></plist>", "Plist::Date::set() date invalid"},
    };
    for (const XmlCase& c : xmlCases)
        EXPECT_EQ(ErrorOf(Bytes(c.xml, c.xml + std::strlen(c.xml))), c.message) << c.xml;
}

TEST(PlistReader, TypeErrorsAreBadCasts)
{
    // A dictionary key that is an integer.
    const Bytes intKey = BuildBinary({{0xD1, 1, 2}, {0x10, 1}, {0x10, 2}});
    EXPECT_THROW(ParseBytes(intKey), boost::bad_any_cast);

    const Bytes arrayRoot = Serialize(Plist::Array{true});
    Plist::Dictionary dict{{"kept", true}};
    EXPECT_THROW(Plist::ParseDictionary(reinterpret_cast<const char*>(arrayRoot.data()), dict, arrayRoot.size()),
                 boost::bad_any_cast);
    const std::string xml = "<plist><string>x</string></plist>";
    EXPECT_THROW(Plist::ParseDictionary(xml.data(), dict, xml.size()), boost::bad_any_cast);
}

TEST(PlistDate, CalendarFieldsAreUtc)
{
    struct Case {
        int month, day, year, hour, minute, second;
        int64_t seconds;
    } cases[] = {
        {1, 1, 1970, 0, 0, 0, 0},
        {1, 1, 2001, 0, 0, 0, 978307200},
        {12, 31, 1969, 23, 59, 59, -1},
        {2, 29, 2024, 12, 34, 56, 1709210096},
        {13, 1, 2000, 0, 0, 0, 978307200},   // month 13 carries into the next year
        {1, 32, 2001, 0, 0, 0, 980985600},   // day 32 of January is February 1st
        {1, 1, 1, 0, 0, 0, -62135596800},
        {12, 31, 9999, 23, 59, 59, 253402300799},
    };
    for (const Case& c : cases) {
        Plist::Date date;
        date.set(c.month, c.day, c.year, c.hour, c.minute, c.second);
        EXPECT_EQ(date.secondsSince1970(), c.seconds) << c.year << "-" << c.month << "-" << c.day;
    }
    Plist::Date date(5);
    EXPECT_THROW(date.set(1, 1, 0, 0, 0, 0), Plist::Error);
    EXPECT_THROW(date.set(1, 1, 10000, 0, 0, 0), Plist::Error);
    EXPECT_THROW(date.set(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), Plist::Error);
    EXPECT_EQ(date.secondsSince1970(), 5) << "a failed set leaves the date as it was";
}

}  // namespace
