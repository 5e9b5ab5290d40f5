// Binary property lists ("bplist00"): the writer and the reader.
//
// File layout: "bplist00", the object table, the offset table (each object's
// byte offset from the start of the file, big-endian, offsetSize bytes, in
// reference order) and a 32-byte trailer: 6 zero bytes, offsetSize, refSize,
// object count (u64), top object (u64, always 0 here), offset-table offset (u64).
#include "engine/plist/Plist.h"
#include "engine/plist/PlistReaders.h"

#include <boost/locale/encoding_utf.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>

namespace Plist {

namespace {

const int64_t kAppleEpochMinusUnixEpoch = 978307200;  // seconds from 1970-01-01 to 2001-01-01

// Fewest bytes (at least 1) that hold `value`.
unsigned BytesFor(uint64_t value)
{
    unsigned n = 1;
    while (n < 8 && (value >> (8 * n)) != 0)
        ++n;
    return n;
}

void AppendBigEndian(std::vector<unsigned char>& out, uint64_t value, unsigned size)
{
    for (unsigned i = size; i-- > 0;)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint64_t ReadBigEndian(const unsigned char* p, unsigned size)
{
    uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i)
        value = (value << 8) | p[i];
    return value;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writer

// Objects are written back to front: each one is put in front of the bytes
// written so far, so a container's children (written first) end up behind it.
// objectBytes therefore holds the object table reversed; a recorded offset is
// the distance from an object's first byte to the end of the table, which
// does not change as more objects are put in front.
struct BinaryWriterState {
    std::vector<uint64_t> offsets;          // distances, in the order written
    std::vector<unsigned char> objectBytes; // the object table, last byte first
    unsigned offsetSize = 1;
    uint64_t offsetTableOffset = 0;
    unsigned refSize = 1;
    uint64_t nextRef = 0;                   // counts down; the root ends up as 0
};

namespace {

void PutInFront(BinaryWriterState& state, const std::vector<unsigned char>& bytes)
{
    state.objectBytes.insert(state.objectBytes.end(), bytes.rbegin(), bytes.rend());
}

void PutInFront(BinaryWriterState& state, const char* bytes, std::size_t size)
{
    for (std::size_t i = size; i-- > 0;)
        state.objectBytes.push_back(static_cast<unsigned char>(bytes[i]));
}

// Integer object: the value's little-endian bytes with high zero bytes dropped
// (at least 1), padded up to 1, 2, 4 or 8; negative values keep all 8.
void EncodeInteger(std::vector<unsigned char>& out, int64_t value)
{
    const uint64_t bits = static_cast<uint64_t>(value);
    unsigned size = value < 0 ? 8 : BytesFor(bits);
    unsigned log2 = 0;
    while ((1u << log2) < size)
        ++log2;
    size = 1u << log2;
    out.push_back(static_cast<unsigned char>(0x10 | log2));
    AppendBigEndian(out, bits, size);
}

// Marker with a count in its low nibble, or nibble 15 and an integer object
// when the count does not fit in 0..14.
void EncodeMarker(std::vector<unsigned char>& out, unsigned char type, uint64_t count)
{
    if (count > 14) {
        out.push_back(static_cast<unsigned char>(type | 0x0F));
        EncodeInteger(out, static_cast<int64_t>(count));
    } else {
        out.push_back(static_cast<unsigned char>(type | count));
    }
}

uint64_t CountObjects(const boost::any& value)
{
    if (const Dictionary* dict = boost::any_cast<Dictionary>(&value)) {
        uint64_t count = 1;
        for (const auto& entry : *dict)
            count += 1 + CountObjects(entry.second);
        return count;
    }
    if (const Array* array = boost::any_cast<Array>(&value)) {
        uint64_t count = 1;
        for (const auto& element : *array)
            count += CountObjects(element);
        return count;
    }
    return 1;
}

void WriteObject(BinaryWriterState& state, const boost::any& value);

// Records the object just put in front and gives it the next reference number.
uint64_t TakeReference(BinaryWriterState& state)
{
    state.offsets.push_back(state.objectBytes.size());
    return state.nextRef--;
}

void WriteString(BinaryWriterState& state, const std::string& text)
{
    PutInFront(state, text.data(), text.size());
    std::vector<unsigned char> marker;
    EncodeMarker(marker, 0x50, text.size());
    PutInFront(state, marker);
}

void WriteDictionary(BinaryWriterState& state, const Dictionary& dict)
{
    std::vector<uint64_t> valueRefs(dict.size());
    std::vector<uint64_t> keyRefs(dict.size());
    std::size_t i = dict.size();
    for (auto it = dict.rbegin(); it != dict.rend(); ++it) {
        WriteObject(state, it->second);
        valueRefs[--i] = TakeReference(state);
    }
    i = dict.size();
    for (auto it = dict.rbegin(); it != dict.rend(); ++it) {
        WriteString(state, it->first);
        keyRefs[--i] = TakeReference(state);
    }
    std::vector<unsigned char> head;
    EncodeMarker(head, 0xD0, dict.size());
    for (uint64_t ref : keyRefs)
        AppendBigEndian(head, ref, state.refSize);
    for (uint64_t ref : valueRefs)
        AppendBigEndian(head, ref, state.refSize);
    PutInFront(state, head);
}

void WriteArray(BinaryWriterState& state, const Array& array)
{
    std::vector<uint64_t> refs(array.size());
    for (std::size_t i = array.size(); i-- > 0;) {
        WriteObject(state, array[i]);
        refs[i] = TakeReference(state);
    }
    std::vector<unsigned char> head;
    EncodeMarker(head, 0xA0, array.size());
    for (uint64_t ref : refs)
        AppendBigEndian(head, ref, state.refSize);
    PutInFront(state, head);
}

// Real object: 8 bytes, except 0.0, which takes 4. Readers take a 4-byte
// real as a float, and 0.0 is the one double whose upper half is zero that a
// float holds exactly; any other such double (a tiny subnormal) would read
// back as a different number.
void WriteReal(BinaryWriterState& state, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const unsigned size = bits == 0 ? 4 : 8;
    std::vector<unsigned char> bytes;
    bytes.push_back(size == 4 ? 0x22 : 0x23);
    AppendBigEndian(bytes, bits, size);
    PutInFront(state, bytes);
}

void WriteInteger(BinaryWriterState& state, int64_t value)
{
    std::vector<unsigned char> bytes;
    EncodeInteger(bytes, value);
    PutInFront(state, bytes);
}

void WriteObject(BinaryWriterState& state, const boost::any& value)
{
    const std::type_info& type = value.type();
    if (type == typeid(Dictionary)) {
        WriteDictionary(state, boost::any_cast<const Dictionary&>(value));
    } else if (type == typeid(Array)) {
        WriteArray(state, boost::any_cast<const Array&>(value));
    } else if (type == typeid(std::string)) {
        WriteString(state, boost::any_cast<const std::string&>(value));
    } else if (type == typeid(Data)) {
        const Data& data = boost::any_cast<const Data&>(value);
        PutInFront(state, data.data(), data.size());
        std::vector<unsigned char> marker;
        EncodeMarker(marker, 0x40, data.size());
        PutInFront(state, marker);
    } else if (type == typeid(int64_t)) {
        WriteInteger(state, boost::any_cast<int64_t>(value));
    } else if (type == typeid(int32_t)) {
        WriteInteger(state, boost::any_cast<int32_t>(value));
    } else if (type == typeid(int16_t)) {
        WriteInteger(state, boost::any_cast<int16_t>(value));
    } else if (type == typeid(long)) {
        WriteInteger(state, boost::any_cast<long>(value));
    } else if (type == typeid(double)) {
        WriteReal(state, boost::any_cast<double>(value));
    } else if (type == typeid(float)) {
        WriteReal(state, boost::any_cast<float>(value));
    } else if (type == typeid(bool)) {
        state.objectBytes.push_back(boost::any_cast<bool>(value) ? 0x09 : 0x08);
    } else if (type == typeid(Date)) {
        // In double arithmetic: no integer overflow for far-off dates.
        const double appleSeconds = static_cast<double>(boost::any_cast<const Date&>(value).secondsSince1970())
            - static_cast<double>(kAppleEpochMinusUnixEpoch);
        uint64_t bits;
        std::memcpy(&bits, &appleSeconds, sizeof bits);
        std::vector<unsigned char> bytes{0x33};
        AppendBigEndian(bytes, bits, 8);
        PutInFront(state, bytes);
    } else {
        throw Error(std::string("Plist Error: Can't serialize type ") + type.name());
    }
}

}  // namespace

void SerializeBinary(const boost::any& value, std::vector<char>& out)
{
    BinaryWriterState state;
    const uint64_t count = CountObjects(value);
    state.nextRef = count - 1;
    state.refSize = BytesFor(count - 1);

    WriteObject(state, value);

    std::vector<unsigned char> file{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    file.insert(file.end(), state.objectBytes.rbegin(), state.objectBytes.rend());
    state.offsetTableOffset = file.size();
    state.offsets.push_back(file.size() - 8);  // the root: the whole object table

    std::reverse(state.offsets.begin(), state.offsets.end());
    uint64_t largest = 0;
    for (uint64_t& offset : state.offsets) {
        offset = state.offsetTableOffset - offset;
        largest = std::max(largest, offset);
    }
    state.offsetSize = BytesFor(largest);
    for (uint64_t offset : state.offsets)
        AppendBigEndian(file, offset, state.offsetSize);

    file.insert(file.end(), 6, 0);
    file.push_back(static_cast<unsigned char>(state.offsetSize));
    file.push_back(static_cast<unsigned char>(state.refSize));
    AppendBigEndian(file, count, 8);
    AppendBigEndian(file, 0, 8);
    AppendBigEndian(file, state.offsetTableOffset, 8);

    out.assign(file.begin(), file.end());
}

// ---------------------------------------------------------------------------
// Reader

namespace detail {
namespace {

// Reads untrusted input: the trailer is checked against the length before
// anything is read, every reference against the object count, every offset
// against the object table, every byte range (counts included) against the
// end of the object table. Recursion stops at kMaxDepth and at a reference
// back into the current path. Shared references could still expand a small
// file into an enormous value (a chain of arrays each referring twice to the
// next one doubles per level), so the objects and bytes produced are counted
// against a budget proportional to the input.
class BinaryReader {
public:
    BinaryReader(const unsigned char* bytes, std::size_t length)
        : bytes_(bytes)
    {
        const std::size_t kHeaderSize = 8, kTrailerSize = 32;
        if (length < kHeaderSize + kTrailerSize)
            throw Error("Plist: binary plist of " + std::to_string(length)
                        + " bytes is too short for its header and trailer");
        const unsigned char* trailer = bytes + length - kTrailerSize;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        objectCount_ = ReadBigEndian(trailer + 8, 8);
        offsetTableOffset_ = ReadBigEndian(trailer + 24, 8);

        if (offsetSize_ < 1 || offsetSize_ > 8)
            throw Error("Plist: binary plist trailer has an invalid offset size " + std::to_string(offsetSize_));
        if (refSize_ < 1 || refSize_ > 8)
            throw Error("Plist: binary plist trailer has an invalid reference size " + std::to_string(refSize_));
        if (objectCount_ == 0)
            throw Error("Plist: binary plist trailer declares no objects");
        // At least one object byte between the header and the offset table.
        const uint64_t trailerStart = length - kTrailerSize;
        if (offsetTableOffset_ <= kHeaderSize || offsetTableOffset_ > trailerStart)
            throw Error("Plist: binary plist offset table offset " + std::to_string(offsetTableOffset_)
                        + " lies outside the file");
        if (objectCount_ > (trailerStart - offsetTableOffset_) / offsetSize_)
            throw Error("Plist: binary plist offset table of " + std::to_string(objectCount_) + " objects does not fit before the trailer");

        budgetLimit_ = 256 * 1024 + 16 * static_cast<uint64_t>(length);
        budget_ = budgetLimit_;
    }

    boost::any ReadRoot() { return ReadObject(0); }

private:
    const unsigned char* bytes_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t offsetTableOffset_ = 0;  // also the end of the object table
    // Objects, plus bytes of text and data (UTF-16 text: its units, or its
    // UTF-8 bytes where they are more).
    uint64_t budgetLimit_ = 0;
    uint64_t budget_ = 0;             // what is left of it
    std::vector<uint64_t> path_;      // references of the containers being read

    // `count` items of `itemSize` bytes at `offset`, all inside the object table.
    const unsigned char* Range(uint64_t offset, uint64_t count, uint64_t itemSize = 1) const
    {
        if (offset > offsetTableOffset_ || count > (offsetTableOffset_ - offset) / itemSize)
            throw Error("Out of bounds getRange");
        return bytes_ + offset;
    }

    void Spend(uint64_t units)
    {
        if (units > budget_)
            throw Error("Plist: binary plist expands beyond " + std::to_string(budgetLimit_)
                        + " objects and bytes (too many shared references)");
        budget_ -= units;
    }

    uint64_t ObjectOffset(uint64_t ref) const
    {
        if (ref >= objectCount_)
            throw Error("Plist: object reference " + std::to_string(ref) + " out of range ("
                        + std::to_string(objectCount_) + " objects)");
        const uint64_t offset = ReadBigEndian(bytes_ + offsetTableOffset_ + ref * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= offsetTableOffset_)
            throw Error("Plist: object " + std::to_string(ref) + " has offset " + std::to_string(offset)
                        + " outside the object table");
        return offset;
    }

    // Body of an integer object at `offset` (marker already read as `marker`).
    int64_t ReadIntegerBody(uint64_t offset, unsigned char marker) const
    {
        const unsigned log2 = marker & 0x0F;
        if (log2 > 3)
            throw Error("Plist: " + std::to_string(1u << log2) + "-byte integers are not supported");
        const unsigned size = 1u << log2;
        // 1, 2 and 4 bytes are unsigned; 8 bytes carry the sign.
        return static_cast<int64_t>(ReadBigEndian(Range(offset, size), size));
    }

    // The count of a counted object whose marker is at `offset`; sets `body`
    // to the offset of the object's contents.
    uint64_t ReadCount(uint64_t offset, unsigned char marker, uint64_t& body) const
    {
        body = offset + 1;
        if ((marker & 0x0F) != 0x0F)
            return marker & 0x0F;
        const unsigned char countMarker = *Range(body, 1);
        if ((countMarker & 0xF0) != 0x10)
            throw Error("Plist: count of the object at offset " + std::to_string(offset) + " is not an integer");
        const int64_t count = ReadIntegerBody(body + 1, countMarker);
        if (count < 0)
            throw Error("Plist: negative count in the object at offset " + std::to_string(offset));
        body += 1 + (1u << (countMarker & 0x0F));
        return static_cast<uint64_t>(count);
    }

    uint64_t ReadRef(const unsigned char* p) const { return ReadBigEndian(p, refSize_); }

    boost::any ReadObject(uint64_t ref)
    {
        if (path_.size() >= kMaxDepth)
            throw Error("Plist: binary plist nests deeper than " + std::to_string(kMaxDepth) + " levels");
        if (std::find(path_.begin(), path_.end(), ref) != path_.end())
            throw Error("Plist: binary plist object " + std::to_string(ref) + " refers back to itself");
        Spend(1);

        const uint64_t offset = ObjectOffset(ref);
        const unsigned char marker = *Range(offset, 1);
        switch (marker & 0xF0) {
        case 0x00:
            if (marker == 0x08) return false;
            if (marker == 0x09) return true;
            if (marker == 0x00) throw Error("Plist: null byte encountered, unsure how to parse");
            if (marker == 0x0F) throw Error("Plist: fill byte encountered, unsure how to parse");
            throw Error("Plist: unknown header " + std::to_string(marker));
        case 0x10:
            return ReadIntegerBody(offset + 1, marker);
        case 0x20: {
            // A 4-byte real is a float; the writer only makes one for 0.0.
            const unsigned log2 = marker & 0x0F;
            if (log2 == 2) {
                const uint32_t bits = static_cast<uint32_t>(ReadBigEndian(Range(offset + 1, 4), 4));
                float value;
                std::memcpy(&value, &bits, sizeof value);
                return static_cast<double>(value);
            }
            if (log2 == 3) {
                const uint64_t bits = ReadBigEndian(Range(offset + 1, 8), 8);
                double value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
            throw Error("Plist: " + std::to_string(1u << log2) + "-byte reals are not supported");
        }
        case 0x30: {
            const uint64_t bits = ReadBigEndian(Range(offset + 1, 8), 8);
            double appleSeconds;
            std::memcpy(&appleSeconds, &bits, sizeof appleSeconds);
            const double unixSeconds = appleSeconds + static_cast<double>(kAppleEpochMinusUnixEpoch);
            // Converting a NaN or a double beyond int64 is undefined: refuse it.
            if (!(unixSeconds > -9.0e18 && unixSeconds < 9.0e18))
                throw Error("Plist: date out of range");
            return Date(static_cast<int64_t>(unixSeconds));
        }
        case 0x40: {
            uint64_t body;
            const uint64_t count = ReadCount(offset, marker, body);
            const char* p = reinterpret_cast<const char*>(Range(body, count));
            Spend(count);
            return Data(p, p + count);
        }
        case 0x50: {
            uint64_t body;
            const uint64_t count = ReadCount(offset, marker, body);
            const char* p = reinterpret_cast<const char*>(Range(body, count));
            Spend(count);
            return std::string(p, count);
        }
        case 0x60: {
            uint64_t body;
            const uint64_t count = ReadCount(offset, marker, body);
            const unsigned char* p = Range(body, count, 2);
            // Charged by its units before converting: units that convert to
            // nothing (unpaired surrogates) still cost the reading.
            Spend(count);
            std::u16string units(count, u'\0');
            for (uint64_t i = 0; i < count; ++i)
                units[i] = static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
            // Unpaired surrogates are skipped rather than thrown on.
            std::string text = boost::locale::conv::utf_to_utf<char>(units.data(), units.data() + units.size());
            if (text.size() > count)
                Spend(text.size() - count);
            return text;
        }
        case 0xA0: {
            uint64_t body;
            const uint64_t count = ReadCount(offset, marker, body);
            const unsigned char* refs = Range(body, count, refSize_);
            path_.push_back(ref);
            Array array;
            array.reserve(count);
            for (uint64_t i = 0; i < count; ++i)
                array.push_back(ReadObject(ReadRef(refs + i * refSize_)));
            path_.pop_back();
            return array;
        }
        case 0xD0: {
            uint64_t body;
            const uint64_t count = ReadCount(offset, marker, body);
            const unsigned char* keyRefs = Range(body, count, 2 * static_cast<uint64_t>(refSize_));
            const unsigned char* valueRefs = keyRefs + count * refSize_;
            path_.push_back(ref);
            Dictionary dict;
            for (uint64_t i = 0; i < count; ++i) {
                // A key of another type than string is the value type's bad cast.
                std::string key = boost::any_cast<std::string>(ReadObject(ReadRef(keyRefs + i * refSize_)));
                dict[std::move(key)] = ReadObject(ReadRef(valueRefs + i * refSize_));
            }
            path_.pop_back();
            return dict;
        }
        default:
            throw Error("This type is not supported");
        }
    }
};

}  // namespace

boost::any ParseBinary(const unsigned char* bytes, std::size_t length)
{
    BinaryReader reader(bytes, length);
    return reader.ReadRoot();
}

}  // namespace detail
}  // namespace Plist
