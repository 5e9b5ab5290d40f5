// Helpers shared by the property-list tests: a printer that makes two values
// comparable (type and value, so an int32 never equals an int64), a builder of
// hand-made binary plists, and the stream announcement dictionary.
#pragma once

#include "engine/plist/Plist.h"

#include <cstdio>
#include <string>
#include <vector>

namespace plisttest {

typedef std::vector<unsigned char> Bytes;

inline std::string Hex(const Bytes& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

inline std::string Describe(const boost::any& value)
{
    using namespace Plist;
    char buf[64];
    if (const Dictionary* d = boost::any_cast<Dictionary>(&value)) {
        std::string out = "{";
        for (const auto& entry : *d)
            out += "\"" + entry.first + "\"=" + Describe(entry.second) + ",";
        return out + "}";
    }
    if (const Array* a = boost::any_cast<Array>(&value)) {
        std::string out = "[";
        for (const auto& element : *a)
            out += Describe(element) + ",";
        return out + "]";
    }
    if (const std::string* s = boost::any_cast<std::string>(&value))
        return "string:" + Hex(Bytes(s->begin(), s->end()));
    if (const Data* data = boost::any_cast<Data>(&value))
        return "data:" + Hex(Bytes(data->begin(), data->end()));
    if (const int64_t* i = boost::any_cast<int64_t>(&value))
        return "int64:" + std::to_string(*i);
    if (const int32_t* i = boost::any_cast<int32_t>(&value))
        return "int32:" + std::to_string(*i);
    if (const double* r = boost::any_cast<double>(&value)) {
        std::snprintf(buf, sizeof buf, "real:%.17g", *r);
        return buf;
    }
    if (const bool* b = boost::any_cast<bool>(&value))
        return *b ? "true" : "false";
    if (const Date* date = boost::any_cast<Date>(&value))
        return "date:" + std::to_string(date->secondsSince1970());
    return std::string("other:") + value.type().name();
}

inline Bytes Serialize(const boost::any& value)
{
    std::vector<char> out;
    Plist::SerializeBinary(value, out);
    return Bytes(out.begin(), out.end());
}

inline boost::any ParseBytes(const Bytes& bytes)
{
    boost::any value;
    Plist::Parse(reinterpret_cast<const char*>(bytes.data()), bytes.size(), value);
    return value;
}

inline boost::any ParseText(const std::string& text)
{
    boost::any value;
    Plist::Parse(text.data(), text.size(), value);
    return value;
}

inline void AppendBE(Bytes& out, uint64_t value, unsigned size)
{
    for (unsigned i = size; i-- > 0;)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A binary plist made of the given objects (object k is reference k, the
// root is object 0), with a correct offset table and trailer.
inline Bytes BuildBinary(const std::vector<Bytes>& objects, unsigned refSize = 1, unsigned offsetSize = 1)
{
    Bytes file{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (const Bytes& object : objects) {
        offsets.push_back(file.size());
        file.insert(file.end(), object.begin(), object.end());
    }
    const uint64_t offsetTable = file.size();
    for (uint64_t offset : offsets)
        AppendBE(file, offset, offsetSize);
    file.insert(file.end(), 6, 0);
    file.push_back(static_cast<unsigned char>(offsetSize));
    file.push_back(static_cast<unsigned char>(refSize));
    AppendBE(file, objects.size(), 8);
    AppendBE(file, 0, 8);
    AppendBE(file, offsetTable, 8);
    return file;
}

// The body of the stream announcement sent to a receiver: the dictionary
// whose exact bytes receivers read.
inline Plist::Dictionary StreamAnnouncement(int64_t deviceId, int32_t sessionId)
{
    using namespace Plist;
    auto names = [](std::initializer_list<const char*> list) {
        Array array;
        for (const char* name : list)
            array.push_back(Dictionary{{"name", std::string(name)}});
        return array;
    };
    Dictionary body;
    body["deviceID"] = deviceId;
    body["fpsInfo"] = names({"SubS", "B4En", "EnDp", "IdEn", "IdDp", "EQDp", "QueF", "Sent"});
    body["latencyMs"] = int32_t(90);
    body["sessionID"] = sessionId;
    body["timestampInfo"] = names({"SubSu", "BePxT", "AfPxT", "BefEn", "EmEnc", "QueFr", "SndFr"});
    body["version"] = std::string("130.16");
    return body;
}

}  // namespace plisttest
