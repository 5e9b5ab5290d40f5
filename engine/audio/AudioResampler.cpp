#include "engine/audio/AudioResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "foundation/log/Logger.h"

AudioResampler::~AudioResampler() {
  if (dstData) {
    av_freep(&dstData[0]);
    av_freep(&dstData);
  }
  swr_free(&ctx);
}

int AudioResampler::Init(int rate, int frames) {
  ctx = swr_alloc();
  if (!ctx) {
    ZtLogger::Instance().Error("[FFmpeg]Resampler : Could not allocate resampler context\n");
    return -1;
  }
  // FFmpeg 5.1 takes layouts as AVChannelLayout ("in_chlayout"); the old
  // 64-bit "in_channel_layout" options are deprecated there and gone later.
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  av_opt_set_chlayout(ctx, "in_chlayout", &stereo, 0);
  av_opt_set_int(ctx, "in_sample_rate", rate, 0);
  av_opt_set_sample_fmt(ctx, "in_sample_fmt", AV_SAMPLE_FMT_S16, 0);
  av_opt_set_chlayout(ctx, "out_chlayout", &stereo, 0);
  av_opt_set_int(ctx, "out_sample_rate", dstRate, 0);
  av_opt_set_sample_fmt(ctx, "out_sample_fmt", AV_SAMPLE_FMT_S16, 0);
  if (rate <= 0 || frames <= 0 || swr_init(ctx) < 0) {
    ZtLogger::Instance().Error("[FFmpeg]Resampler : Failed to initialize the resampling context\n");
    swr_free(&ctx);
    return -2;
  }
  outChannels = stereo.nb_channels;
  dstSamples = static_cast<int>(av_rescale_rnd(frames, dstRate, rate, AV_ROUND_UP));
  if (av_samples_alloc_array_and_samples(&dstData, &lineSize, outChannels, dstSamples,
                                         AV_SAMPLE_FMT_S16, 0) < 0) {
    ZtLogger::Instance().Error("[FFmpeg]Resampler : Could not allocate destination samples\n");
    dstData = nullptr;
    swr_free(&ctx);
    return -3;
  }
  dstSamplesAllocated = dstSamples;
  srcRate = rate;
  return 0;
}

int AudioResampler::Convert(const uint8_t* in, int frames, uint8_t** out, int* outBytes) {
  *out = nullptr;
  *outBytes = 0;
  if (!ctx || !dstData || frames < 0) {
    ZtLogger::Instance().Error("[FFmpeg]Resampler : Error while converting\n");
    return -2;
  }
  const int64_t needed =
      av_rescale_rnd(swr_get_delay(ctx, srcRate) + frames, dstRate, srcRate, AV_ROUND_UP);
  if (needed > dstSamplesAllocated) {
    av_freep(&dstData[0]);
    dstSamplesAllocated = 0;
    if (needed > INT32_MAX ||
        av_samples_alloc(dstData, &lineSize, outChannels, static_cast<int>(needed),
                         AV_SAMPLE_FMT_S16, 1) < 0) {
      ZtLogger::Instance().Error("[FFmpeg]Resampler : Could not re-allocate destination samples\n");
      return -1;
    }
    dstSamplesAllocated = static_cast<int>(needed);
  }
  const uint8_t* src[1] = {in};
  const int converted = swr_convert(ctx, dstData, dstSamplesAllocated, src, frames);
  if (converted < 0) {
    ZtLogger::Instance().Error("[FFmpeg]Resampler : Error while converting\n");
    return -2;
  }
  *outBytes = av_samples_get_buffer_size(nullptr, outChannels, converted, AV_SAMPLE_FMT_S16, 1);
  if (*outBytes < 0) *outBytes = 0;
  *out = dstData[0];
  return 0;
}
