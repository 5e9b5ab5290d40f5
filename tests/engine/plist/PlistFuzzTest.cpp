// Deterministic mutations of valid binary and XML plists: every mutant must
// either parse or fail with Plist::Error (or the value type's bad cast), never
// crash, hang or throw anything else. What parses must also write and read
// again. Fixed seed, bounded by an iteration count and a wall-clock budget.
#include "engine/plist/PlistTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <typeinfo>

using namespace plisttest;

namespace {

std::vector<Bytes> BinarySeeds()
{
    std::vector<Bytes> seeds;
    seeds.push_back(Serialize(StreamAnnouncement(0x001C42ABCDEFLL, int32_t(0x9ABCDEF0u))));

    Plist::Dictionary rich;
    rich["data"] = Plist::Data(20, '\x5A');
    rich["date"] = Plist::Date(1700000000);
    rich["height"] = int64_t(1080);
    rich["list"] = Plist::Array{0.0, -1.5, true, false, int64_t(-1), std::string(16, 's')};
    rich["version"] = std::string("150.33");
    rich["width"] = int64_t(1920);
    seeds.push_back(Serialize(rich));

    // Wide references and offsets.
    Plist::Array wide;
    for (int i = 0; i < 270; ++i)
        wide.push_back(int32_t(i * 7919));
    seeds.push_back(Serialize(wide));

    // What other writers make: a shared key string, UTF-16 text, a float.
    seeds.push_back(BuildBinary({{0xD3, 1, 2, 3, 4, 5, 6},
                                 {0x55, 'w', 'i', 'd', 't', 'h'},
                                 {0x66, 0x00, 'h', 0x00, 'e', 0x00, 'i', 0x00, 'g', 0x00, 'h', 0x00, 't'},
                                 {0x67, 0x00, 'v', 0x00, 'e', 0x00, 'r', 0x00, 's', 0x00, 'i', 0x00, 'o', 0x00, 'n'},
                                 {0x11, 0x07, 0x80},
                                 {0x22, 0x3F, 0xC0, 0x00, 0x00},
                                 {0xA2, 1, 1}}));
    return seeds;
}

std::vector<Bytes> XmlSeeds()
{
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "<key>height</key><integer>1080</integer>\n<key>version</key><string>150.33</string>\n"
        "<key>width</key><integer>1920</integer>\n</dict>\n</plist>\n";
    const std::string kinds =
        "<plist><dict><key>a</key><array><real>1.5</real><true/><false/><data>QUJD\nREVG</data>"
        "<date>2024-02-29T12:34:56Z</date><dict><key>n</key><string>x&amp;y</string></dict></array>"
        "<key>b</key><integer>-9</integer></dict></plist>";
    return {Bytes(reply.begin(), reply.end()), Bytes(kinds.begin(), kinds.end())};
}

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}

    Bytes Mutate(Bytes input, bool binary)
    {
        const unsigned rounds = 1 + Below(3);
        for (unsigned r = 0; r < rounds; ++r)
            MutateOnce(input, binary);
        return input;
    }

private:
    std::mt19937 rng_;

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : rng_() % n; }
    uint64_t Random64() { return (uint64_t(rng_()) << 32) | rng_(); }

    unsigned char InterestingByte()
    {
        static const unsigned char values[] = {0x00, 0x01, 0x08, 0x0F, 0x10, 0x13, 0x14, 0x22, 0x33,
                                               0x5F, 0x6F, 0x7F, 0x80, 0xAF, 0xDF, 0xFF, '<', '>', '/'};
        return Below(2) ? values[Below(sizeof values)] : static_cast<unsigned char>(rng_());
    }

    void MutateOnce(Bytes& b, bool binary)
    {
        switch (Below(8)) {
        case 0:  // flip bits
            for (unsigned n = 1 + Below(4); n > 0 && !b.empty(); --n)
                b[Below(b.size())] ^= static_cast<unsigned char>(1u << Below(8));
            break;
        case 1:  // overwrite bytes
            for (unsigned n = 1 + Below(3); n > 0 && !b.empty(); --n)
                b[Below(b.size())] = InterestingByte();
            break;
        case 2:  // truncate
            b.resize(Below(b.size() + 1));
            break;
        case 3: {  // insert bytes
            const std::size_t at = Below(b.size() + 1);
            Bytes extra;
            for (unsigned n = 1 + Below(8); n > 0; --n)
                extra.push_back(InterestingByte());
            b.insert(b.begin() + at, extra.begin(), extra.end());
            break;
        }
        case 4: {  // delete a range
            if (b.empty())
                break;
            const std::size_t at = Below(b.size());
            b.erase(b.begin() + at, b.begin() + at + std::min<std::size_t>(1 + Below(16), b.size() - at));
            break;
        }
        case 5: {  // duplicate a chunk elsewhere (nesting for XML, stray objects for binary)
            if (b.empty())
                break;
            const std::size_t from = Below(b.size());
            const std::size_t length = std::min<std::size_t>(1 + Below(64), b.size() - from);
            const Bytes chunk(b.begin() + from, b.begin() + from + length);
            b.insert(b.begin() + Below(b.size() + 1), chunk.begin(), chunk.end());
            break;
        }
        default:  // binary: a random trailer field or offset-table byte
            if (!binary || b.size() < 40) {
                if (!b.empty())
                    b[Below(b.size())] = InterestingByte();
                break;
            }
            RandomTrailerField(b);
            break;
        }
    }

    void RandomTrailerField(Bytes& b)
    {
        const std::size_t trailer = b.size() - 32;
        uint64_t value;
        switch (Below(4)) {
        case 0: value = Below(20); break;
        case 1: value = b.size() - 40 + Below(10); break;
        case 2: value = ~uint64_t(0) - Below(3); break;
        default: value = Random64(); break;
        }
        switch (Below(5)) {
        case 0: b[trailer + 6] = static_cast<unsigned char>(Below(2) ? Below(10) : value); break;
        case 1: b[trailer + 7] = static_cast<unsigned char>(Below(2) ? Below(10) : value); break;
        case 2:
            for (int i = 0; i < 8; ++i)
                b[trailer + 8 + i] = static_cast<unsigned char>(value >> (56 - 8 * i));
            break;
        case 3:
            for (int i = 0; i < 8; ++i)
                b[trailer + 24 + i] = static_cast<unsigned char>(value >> (56 - 8 * i));
            break;
        default: {  // a byte of the offset table, as the trailer places it
            uint64_t table = 0;
            for (int i = 0; i < 8; ++i)
                table = (table << 8) | b[trailer + 24 + i];
            if (table < trailer)
                b[table + Below(trailer - table)] = InterestingByte();
            break;
        }
        }
    }
};

enum class Outcome { Parsed, Error, BadCast, Other };

Outcome TryParse(const Bytes& input, std::string& what)
{
    try {
        const boost::any value = ParseBytes(input);
        // Whatever the reader makes, the writer must take, and read back.
        std::vector<char> again;
        Plist::SerializeBinary(value, again);
        boost::any reread;
        try {
            Plist::Parse(again.data(), again.size(), reread);
        } catch (const Plist::Error&) {
            // A date at the far edge of the 64-bit range may not survive the
            // double conversion; anything else would show up as Other below.
        }
        return Outcome::Parsed;
    } catch (const Plist::Error&) {
        return Outcome::Error;
    } catch (const boost::bad_any_cast&) {
        return Outcome::BadCast;
    } catch (const std::exception& e) {
        what = std::string(typeid(e).name()) + ": " + e.what();
    } catch (...) {
        what = "unknown exception";
    }
    return Outcome::Other;
}

TEST(PlistFuzz, MutantsParseOrFailCleanly)
{
    const unsigned kMutantsPerSeed = 10000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);

    struct Seed {
        Bytes bytes;
        bool binary;
    };
    std::vector<Seed> seeds;
    for (const Bytes& b : BinarySeeds())
        seeds.push_back({b, true});
    for (const Bytes& b : XmlSeeds())
        seeds.push_back({b, false});

    Mutator mutator(0x5EED1E55u);
    unsigned counts[4] = {};
    unsigned run = 0, failures = 0;
    bool outOfTime = false;
    for (const Seed& seed : seeds) {
        std::string seedError;
        ASSERT_EQ(TryParse(seed.bytes, seedError), Outcome::Parsed) << "seed " << Hex(seed.bytes);
        for (unsigned i = 0; i < kMutantsPerSeed && !outOfTime; ++i, ++run) {
            const Bytes mutant = mutator.Mutate(seed.bytes, seed.binary);
            std::string what;
            const Outcome outcome = TryParse(mutant, what);
            ++counts[static_cast<int>(outcome)];
            if (outcome == Outcome::Other && ++failures <= 5)
                ADD_FAILURE() << "mutant " << run << " threw " << what << "\n  input: " << Hex(mutant);
            if ((i & 63) == 0 && std::chrono::steady_clock::now() > deadline)
                outOfTime = true;
        }
    }
    std::printf("plist mutants: %u run (%s), %u parsed, %u Plist::Error, %u bad_any_cast, %u other\n", run,
                outOfTime ? "stopped by the time budget" : "all", counts[0], counts[1], counts[2], counts[3]);
    EXPECT_EQ(counts[static_cast<int>(Outcome::Other)], 0u);
    // Mutants must reach past the first checks: some still parse, some fail.
    EXPECT_GT(counts[static_cast<int>(Outcome::Parsed)], 0u);
    EXPECT_GT(counts[static_cast<int>(Outcome::Error)], 0u);
}

}  // namespace
