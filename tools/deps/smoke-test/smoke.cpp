// Calls into every cross-built library once, with inputs whose results are
// known, so a library that links but misbehaves on Windows (asm paths under
// Wine, RNG seeding, wchar_t being UTF-16) is caught.  Also probes the
// AAC-ELD configuration the sender needs and prints what fdk-aac accepts.
//
// Prints "ok ..."/"FAIL ..." lines and "smoke: N checks, M failed"; the exit
// status is non-zero when any check failed.

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <fdk-aac/aacenc_lib.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdint.h>
#include <x264.h>

#include <boost/any.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <json/json.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

int g_checks = 0;
int g_failed = 0;

void check(bool ok, const char* what, const std::string& detail = {}) {
    ++g_checks;
    if (!ok) ++g_failed;
    std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", what, detail.empty() ? "" : ": ",
                detail.c_str());
}

std::string hex(const unsigned char* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

void check_avutil() {
    int64_t t = av_gettime();
    // Microseconds since 1970: anything before 2020 means a broken clock path.
    check(t > INT64_C(1577836800000000), "avutil av_gettime", std::to_string(t));
}

// White BGRA (what a GDI capture yields) must become limited-range white
// YUV 4:2:0 (what x264 takes): Y 235, U and V 128.
void check_swscale() {
    const int w = 64, h = 64;
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) return check(false, "swscale sws_getContext");
    std::vector<uint8_t> bgra(w * h * 4, 0xff), y(w * h), u(w * h / 4), v(w * h / 4);
    const uint8_t* src[] = {bgra.data()};
    int src_stride[] = {w * 4};
    uint8_t* dst[] = {y.data(), u.data(), v.data()};
    int dst_stride[] = {w, w / 2, w / 2};
    int rows = sws_scale(sws, src, src_stride, 0, h, dst, dst_stride);
    sws_freeContext(sws);
    char d[64];
    std::snprintf(d, sizeof d, "rows %d, Y %d U %d V %d", rows, y[w * h / 2], u[5], v[5]);
    check(rows == h && y[w * h / 2] == 235 && u[5] == 128 && v[5] == 128,
          "swscale BGRA->YUV420P", d);
}

void check_swresample() {
    SwrContext* swr = swr_alloc();
    if (!swr) return check(false, "swresample swr_alloc");
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_opt_set_chlayout(swr, "in_chlayout", &stereo, 0);
    av_opt_set_chlayout(swr, "out_chlayout", &stereo, 0);
    av_opt_set_int(swr, "in_sample_rate", 48000, 0);
    av_opt_set_int(swr, "out_sample_rate", 44100, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt", AV_SAMPLE_FMT_FLT, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt", AV_SAMPLE_FMT_S16, 0);
    int rc = swr_init(swr);
    std::vector<float> in(4800 * 2, 0.5f);
    std::vector<int16_t> out(4800 * 2);
    const uint8_t* inp[] = {reinterpret_cast<const uint8_t*>(in.data())};
    uint8_t* outp[] = {reinterpret_cast<uint8_t*>(out.data())};
    int n = rc < 0 ? -1 : swr_convert(swr, outp, 4800, inp, 4800);
    swr_free(&swr);
    // 100 ms at 48 kHz is about 4410 samples at 44.1 kHz, minus filter delay.
    check(rc == 0 && n > 4000 && n <= 4410, "swresample 48k float -> 44.1k s16",
          "init " + std::to_string(rc) + ", samples " + std::to_string(n));
}

struct FdkEncoder {
    HANDLE_AACENCODER h = nullptr;
    ~FdkEncoder() {
        if (h) aacEncClose(&h);
    }
};

// Sets up AAC-ELD, 44.1 kHz stereo, 480-sample granules, raw access units;
// returns the first error (set or init) or AACENC_OK.  sbr_mode: -1 lets
// fdk-aac decide (it adds SBR below 128 kbit/s), 0 forbids SBR.
AACENC_ERROR open_eld(FdkEncoder& enc, UINT bitrate_mode, UINT bitrate, int sbr_mode) {
    AACENC_ERROR e = aacEncOpen(&enc.h, 0, 2);
    const std::pair<AACENC_PARAM, UINT> params[] = {
        {AACENC_AOT, AOT_ER_AAC_ELD},    {AACENC_SAMPLERATE, 44100},
        {AACENC_CHANNELMODE, MODE_2},    {AACENC_GRANULE_LENGTH, 480},
        {AACENC_TRANSMUX, TT_MP4_RAW},   {AACENC_SBR_MODE, UINT(sbr_mode)},
        {AACENC_BITRATEMODE, bitrate_mode}, {AACENC_BITRATE, bitrate},
    };
    for (const auto& [param, value] : params) {
        if (e != AACENC_OK) return e;
        if (param == AACENC_BITRATE && bitrate_mode != 0) continue;
        e = aacEncoder_SetParam(enc.h, param, value);
    }
    if (e != AACENC_OK) return e;
    return aacEncEncode(enc.h, nullptr, nullptr, nullptr, nullptr);  // applies the settings
}

// Encodes 100 input granules of a tone; returns the average access-unit size
// in bytes, or -1 on an error or when nothing came out.
int encode_average(HANDLE_AACENCODER h) {
    std::vector<int16_t> pcm(480 * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>((i % 50) * 400 - 10000);
    std::vector<uint8_t> out(2048);
    long total = 0, units = 0;
    for (int frame = 0; frame < 100; ++frame) {
        void* in_ptr = pcm.data();
        void* out_ptr = out.data();
        INT in_id = IN_AUDIO_DATA, in_size = int(pcm.size() * 2), in_el = 2;
        INT out_id = OUT_BITSTREAM_DATA, out_size = int(out.size()), out_el = 1;
        AACENC_BufDesc in_buf{1, &in_ptr, &in_id, &in_size, &in_el};
        AACENC_BufDesc out_buf{1, &out_ptr, &out_id, &out_size, &out_el};
        AACENC_InArgs in_args{int(pcm.size()), 0};
        AACENC_OutArgs out_args{};
        if (aacEncEncode(h, &in_buf, &out_buf, &in_args, &out_args) != AACENC_OK) return -1;
        if (out_args.numOutBytes > 0) total += out_args.numOutBytes, ++units;
    }
    return units ? int(total / units) : -1;
}

// Prints what fdk-aac makes of each bitrate; returns how many of them gave
// plain AAC-ELD with 480-sample frames.
int sweep_eld_cbr(int sbr_mode) {
    int plain_480 = 0;
    for (UINT bitrate : {24000u, 32000u, 48000u, 64000u, 96000u, 128000u, 160000u, 192000u,
                         256000u, 320000u}) {
        FdkEncoder enc;
        AACENC_ERROR e = open_eld(enc, 0, bitrate, sbr_mode);
        if (e != AACENC_OK) {
            std::printf("info eld sbr %d cbr %u: refused (error 0x%04x)\n", sbr_mode, bitrate,
                        unsigned(e));
            continue;
        }
        AACENC_InfoStruct info{};
        aacEncInfo(enc.h, &info);
        UINT sbr = aacEncoder_GetParam(enc.h, AACENC_SBR_MODE);
        int bytes = encode_average(enc.h);
        std::printf("info eld sbr %d cbr %u: ok, effective bitrate %u, sbr %u, "
                    "frame %u samples, %d bytes/frame, ASC %s\n",
                    sbr_mode, bitrate, aacEncoder_GetParam(enc.h, AACENC_BITRATE), sbr,
                    info.frameLength, bytes, hex(info.confBuf, info.confSize).c_str());
        if (bytes > 0 && sbr == 0 && info.frameLength == 480) ++plain_480;
    }
    return plain_480;
}

void check_fdkaac() {
    {
        HANDLE_AACENCODER h = nullptr;
        AACENC_ERROR e = aacEncOpen(&h, 0, 2);
        check(e == AACENC_OK && h, "fdk-aac aacEncOpen");
        if (h) aacEncClose(&h);
    }
    {
        FdkEncoder enc;
        AACENC_ERROR e = open_eld(enc, 8, 0, -1);
        std::printf("info eld bitrate mode 8: %s (error 0x%04x)\n",
                    e == AACENC_OK ? "accepted" : "refused", unsigned(e));
    }
    sweep_eld_cbr(-1);
    int plain_480 = sweep_eld_cbr(0);
    check(plain_480 > 0, "fdk-aac AAC-ELD 44.1k stereo 480 raw, CBR without SBR",
          std::to_string(plain_480) + " bitrates encode");
}

void check_openssl() {
    unsigned char buf[32] = {};
    int rc = RAND_bytes(buf, sizeof buf);
    bool nonzero = false;
    for (unsigned char c : buf) nonzero |= c != 0;
    check(rc == 1 && nonzero, "openssl RAND_bytes", OpenSSL_version(OPENSSL_VERSION));
}

void check_x264() {
    x264_param_t p;
    if (x264_param_default_preset(&p, "ultrafast", "zerolatency") < 0)
        return check(false, "x264 x264_param_default_preset");
    p.i_width = 64;
    p.i_height = 64;
    p.i_csp = X264_CSP_I420;
    p.i_log_level = X264_LOG_NONE;
    x264_param_apply_profile(&p, "high");
    x264_t* enc = x264_encoder_open(&p);
    if (!enc) return check(false, "x264 x264_encoder_open");
    x264_picture_t pic, out;
    x264_picture_alloc(&pic, X264_CSP_I420, 64, 64);
    for (int plane = 0; plane < 3; ++plane)
        for (int i = 0; i < (plane ? 32 * 32 : 64 * 64); ++i) pic.img.plane[plane][i] = 128;
    x264_nal_t* nals = nullptr;
    int n_nal = 0;
    int bytes = x264_encoder_encode(enc, &nals, &n_nal, &pic, &out);
    const uint8_t* p0 = bytes > 4 ? nals[0].p_payload : nullptr;
    bool start_code = p0 && p0[0] == 0 && p0[1] == 0 && (p0[2] == 1 || (p0[2] == 0 && p0[3] == 1));
    x264_picture_clean(&pic);
    x264_encoder_close(enc);
    check(bytes > 0 && start_code && out.b_keyframe, "x264 encode one frame",
          std::to_string(bytes) + " bytes in " + std::to_string(n_nal) + " NALs, build " +
              std::to_string(X264_BUILD));
}

void check_pugixml() {
    pugi::xml_document doc;
    pugi::xml_parse_result r = doc.load_string("<a b='1'><c>text</c></a>");
    check(r && doc.child("a").attribute("b").as_int() == 1 &&
              std::string(doc.child("a").child_value("c")) == "text",
          "pugixml load_string", r.description());
}

void check_jsoncpp() {
    const std::string text = R"({"k": [1, 2, 3], "s": "\u00e9"})";
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    bool ok = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    check(ok && root["k"].size() == 3 && root["k"][2].asInt() == 3 &&
              root["s"].asString() == "\xc3\xa9",
          "jsoncpp CharReader parse", errors);
}

// wchar_t is UTF-16 on Windows: a non-BMP character arrives as a surrogate pair.
void check_boost() {
    boost::any a = std::string("round trip");
    bool any_ok = boost::any_cast<std::string>(a) == "round trip";
    std::string x = boost::locale::conv::utf_to_utf<char>(L"x");
    std::string emoji = boost::locale::conv::utf_to_utf<char>(L"\U0001F600");
    check(any_ok && x == "x" && emoji == "\xf0\x9f\x98\x80", "boost any + utf_to_utf",
          hex(reinterpret_cast<const unsigned char*>(emoji.data()), emoji.size()));
}

}  // namespace

int main() {
    check_avutil();
    check_swscale();
    check_swresample();
    check_fdkaac();
    check_openssl();
    check_x264();
    check_pugixml();
    check_jsoncpp();
    check_boost();
    std::printf("smoke: %d checks, %d failed\n", g_checks, g_failed);
    std::fflush(stdout);
    return g_failed ? 1 : 0;
}
