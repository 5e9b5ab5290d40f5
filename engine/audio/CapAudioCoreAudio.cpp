#include "engine/audio/CapAudioCoreAudio.h"

#include <objbase.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <cstring>
#include <new>

#include "foundation/log/Logger.h"

namespace {

// The published Core Audio identifiers.
const CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidIMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidIAudioClient = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID kIidIAudioCaptureClient = {
    0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
const IID kIidIAudioRenderClient = {
    0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};

constexpr REFERENCE_TIME kCaptureBufferDuration = 2000000;  // 200 ms
constexpr REFERENCE_TIME kRenderBufferDuration = 1000000;   // 100 ms

// The device's mix format with the sample layout replaced by the sender's;
// the mix rate stays (shared mode converts nothing else for us).
void RewriteFormat(WAVEFORMATEX* wfx, const AudioParam& p) {
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = static_cast<WORD>(p.Channels);
  wfx->wBitsPerSample = static_cast<WORD>(p.BitsPerSample);
  wfx->nBlockAlign = static_cast<WORD>(p.BlockAlign);
  wfx->nAvgBytesPerSec = static_cast<DWORD>(p.BlockAlign) * wfx->nSamplesPerSec;
  wfx->cbSize = 0;
}

// COM on the calling thread: S_OK/S_FALSE entered (must be left), a thread
// already in another apartment can use the objects as well.
bool EnterCom(bool* entered) {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  *entered = SUCCEEDED(hr);
  return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

}  // namespace

CCapAudioCoreAudio::CCapAudioCoreAudio() = default;

CCapAudioCoreAudio::~CCapAudioCoreAudio() {
  // The owner stops the thread first; if it did not, the thread must not
  // outlive the buffers it uses.
  if (IsRunning()) StopThread(kThreadStopWaitMs, true);
  delete[] stereo_;
  stereo_ = nullptr;
  CloseCaptureStream();
  renderClient_.reset();
  delete resampler_;
  resampler_ = nullptr;
  delete filter_;
  filter_ = nullptr;
  LeaveCom();
}

int CCapAudioCoreAudio::Init(IAudioSink* sink, AudioParam* param) {
  ResetThread();
  CAudioCaptor::Init(sink, param);
  return InitCoreAudio();
}

int CCapAudioCoreAudio::Uninit() {
  CAudioCaptor::Uninit();
  delete[] stereo_;
  stereo_ = nullptr;
  stereoFrames_ = 0;
  // Uninit runs on the thread that called Init: the place to leave COM.
  if (!IsRunning()) LeaveCom();
  return 0;
}

int CCapAudioCoreAudio::Start() {
  // Without a stream the thread would only log and end; say so to the caller
  // instead, so the session knows it mirrors without sound.
  if (!StreamOpen() || !stereo_) {
    ZtLogger::Instance().Error("[Audio]CoreAudio is not init");
    return -1;
  }
  return CAudioCaptor::Start();
}

int CCapAudioCoreAudio::InitCoreAudio() {
  ZtLogger::Instance().Info("[Audio]==== InitCoreAudio ====");
  const int rc = OpenCaptureStream();
  ZtLogger::Instance().Info("[Audio]==== InitCoreAudio Done ====");
  return rc;
}

int CCapAudioCoreAudio::OpenCaptureStream() {
  if (StreamOpen()) {
    ZtLogger::Instance().Error("[Audio]CoreAudio is already init");
    return -1;
  }
  bool entered = false;
  if (!EnterCom(&entered)) {
    ZtLogger::Instance().Error("[Audio]CoInitialize fail");
    return -1;
  }
  if (entered) {
    if (comEntered_) {
      CoUninitialize();  // one entry per captor is enough
    } else {
      comEntered_ = true;
      comThread_ = GetCurrentThreadId();
    }
  }

  cl::ComPtr<IMMDeviceEnumerator> enumerator;
  cl::ComPtr<IMMDevice> device;
  WAVEFORMATEX* wfx = nullptr;
  const char* failure = nullptr;
  UINT32 bufferFrames = 0;
  HRESULT hr = CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                kIidIMMDeviceEnumerator, reinterpret_cast<void**>(enumerator.put()));
  if (FAILED(hr)) {
    failure = "[Audio]CoCreateInstance fail";
  } else if (FAILED(hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put()))) {
    failure = "[Audio]GetDefaultAudioEndpoint fail";
  } else if (FAILED(hr = device->Activate(kIidIAudioClient, CLSCTX_ALL, nullptr,
                                          reinterpret_cast<void**>(captureClient_.put())))) {
    failure = "[Audio]Activate audio client fail";
  } else if (FAILED(hr = captureClient_->GetMixFormat(&wfx))) {
    failure = "[Audio]GetMixFormat fail";
  } else {
    ZtLogger::Instance().Info(
        "[Audio]Get current Mixer Wave Settings: Tag[%d] Chn[%d] SPS[%d] bPS[%d] Agn[%d] BPS[%d] "
        "Sz[%d]",
        wfx->wFormatTag, wfx->nChannels, static_cast<int>(wfx->nSamplesPerSec),
        wfx->wBitsPerSample, wfx->nBlockAlign, static_cast<int>(wfx->nAvgBytesPerSec),
        wfx->cbSize);
    RewriteFormat(wfx, *param_);
    REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
    if (FAILED(hr = captureClient_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                               kCaptureBufferDuration, 0, wfx, nullptr))) {
      failure = "[Audio]audio client initialize fail";
    } else if (FAILED(hr = captureClient_->GetBufferSize(&bufferFrames))) {
      failure = "[Audio]get buffer size fail";
    } else if (FAILED(hr = captureClient_->GetService(kIidIAudioCaptureClient,
                                                      reinterpret_cast<void**>(captureService_.put())))) {
      failure = "[Audio]get audio capture service fail";
    } else if (FAILED(hr = captureClient_->GetDevicePeriod(&defaultPeriod, &minimumPeriod))) {
      failure = "[Audio]get device period fail";
    }
  }
  int rc = 0;
  if (failure) {
    ZtLogger::Instance().Error("%s", failure);
    ZtLogger::Instance().Debug("[Audio]Core Audio result 0x%08lX", static_cast<unsigned long>(hr));
    rc = -1;
  } else {
    rc = PrepareStream(static_cast<int>(wfx->nSamplesPerSec), bufferFrames, wfx->nChannels);
  }
  if (wfx) CoTaskMemFree(wfx);
  device.reset();
  enumerator.reset();
  if (rc != 0) {
    // Nothing half-open stays behind: Start refuses and a later Init may retry.
    CloseCaptureStream();
    LeaveCom();
    return -1;
  }
  StartSilentRender();
  return 0;
}

int CCapAudioCoreAudio::PrepareStream(int mixRate, uint32_t bufferFrames, int captureChannels) {
  if (mixRate <= 0 || bufferFrames == 0) return -1;
  bufferDuration_ = static_cast<int64_t>(bufferFrames) * 10000000 / mixRate;
  channels_ = static_cast<uint16_t>(captureChannels);
  param_->SampleRate = mixRate;
  ZtLogger::Instance().Info("[Audio]SamplesPerSec = %d, BitsPerSample = %d", param_->SampleRate,
                            param_->BitsPerSample);
  delete resampler_;
  resampler_ = nullptr;
  resampling_ = 0;
  if (param_->SampleRate != kAudioSendRate) {
    resampler_ = new (std::nothrow) AudioResampler();
    // The resampler takes 16-bit stereo only.
    const bool usable = resampler_ && param_->BitsPerSample == 16 &&
                        resampler_->Init(param_->SampleRate, param_->FrameSize) == 0;
    if (!usable) {
      // The receiver was announced 44100 Hz: audio at another rate would play
      // at the wrong speed and pitch, so none is sent.
      ZtLogger::Instance().Error(
          "[Audio]no resampler for %d Hz to %d Hz, the audio is dropped", mixRate, kAudioSendRate);
      delete resampler_;
      resampler_ = nullptr;
      return -1;
    }
    resampling_ = 1;
    param_->SampleRate = kAudioSendRate;
  }
  // The filter writes stereo frames of the capture sample width; size the
  // buffer for them even if BlockAlign describes fewer bytes.
  const int width = param_->IntegerSamples == 0 ? 4 : param_->BitsPerSample / 8;
  const uint32_t outFrameBytes =
      2 * static_cast<uint32_t>((width >= 1 && width <= 3) ? width : 4);
  const uint32_t frameBytes =
      outFrameBytes > static_cast<uint32_t>(param_->BlockAlign) ? outFrameBytes : param_->BlockAlign;
  delete[] stereo_;
  stereo_ = new (std::nothrow) uint8_t[static_cast<size_t>(frameBytes) * bufferFrames];
  stereoFrames_ = stereo_ ? bufferFrames : 0;
  if (!stereo_) {
    ZtLogger::Instance().Error("[Audio]No memery to keep stereo data");
    return -1;
  }
  return 0;
}

void CCapAudioCoreAudio::StartSilentRender() {
  bool entered = false;
  if (!EnterCom(&entered)) {
    ZtLogger::Instance().Error("[Audio]play audio : CoInitialize fail");
    return;
  }
  cl::ComPtr<IMMDeviceEnumerator> enumerator;
  cl::ComPtr<IMMDevice> device;
  cl::ComPtr<IAudioRenderClient> render;
  WAVEFORMATEX* wfx = nullptr;
  const char* failure = nullptr;
  if (FAILED(CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL,
                              kIidIMMDeviceEnumerator, reinterpret_cast<void**>(enumerator.put())))) {
    failure = "[Audio]play audio : CoCreateInstance fail";
  } else if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put()))) {
    failure = "[Audio]play audio : GetDefaultAudioEndpoint fail";
  } else if (FAILED(device->Activate(kIidIAudioClient, CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(renderClient_.put())))) {
    failure = "[Audio]play audio : Activate fail";
  } else if (FAILED(renderClient_->GetMixFormat(&wfx))) {
    failure = "[Audio]play audio : GetMixFormat fail";
  } else {
    RewriteFormat(wfx, *param_);
    if (FAILED(renderClient_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kRenderBufferDuration, 0,
                                         wfx, nullptr))) {
      failure = "[Audio]play audio : Initialize fail";
    } else if (FAILED(renderClient_->GetService(kIidIAudioRenderClient,
                                                reinterpret_cast<void**>(render.put())))) {
      failure = "[Audio]play audio : GetService fail";
    } else if (FAILED(renderClient_->Start())) {
      failure = "[Audio]play audio : Start fail";
    }
  }
  if (failure) ZtLogger::Instance().Error("%s", failure);
  if (wfx) CoTaskMemFree(wfx);
  // Released before this thread may leave COM.
  render.reset();
  device.reset();
  enumerator.reset();
  if (entered) CoUninitialize();
}

void CCapAudioCoreAudio::CloseCaptureStream() {
  captureService_.reset();
  captureClient_.reset();
}

void CCapAudioCoreAudio::LeaveCom() {
  if (comEntered_ && GetCurrentThreadId() == comThread_) {
    CloseCaptureStream();
    renderClient_.reset();
    CoUninitialize();
    comEntered_ = false;
  }
}

void CCapAudioCoreAudio::MakeFilter() {
  delete filter_;
  filter_ = CAudioFilter::Create(channels_, param_->BitsPerSample / 8, param_->IntegerSamples == 0);
}

bool CCapAudioCoreAudio::EmptyPoll() {
  chunk_->size = 0;
  chunk_->data = nullptr;
  chunk_->timestamp = timeGetTime();
  if (++emptyPolls_ <= kAudioEmptyPollLimit) return false;
  emptyPolls_ = 0;
  if (!StopRequested() && sink_) sink_->OnAudioFrame(chunk_);
  return true;
}

bool CCapAudioCoreAudio::CutIntoPieces(uint8_t* pcm, int bytes) {
  const int64_t piece64 = static_cast<int64_t>(param_->FrameSize) * param_->BlockAlign;
  const int piece = piece64 > 0 && piece64 <= bytes ? static_cast<int>(piece64) : bytes;
  bool delivered = false;
  for (int off = 0; off < bytes; off += piece) {
    const int len = bytes - off < piece ? bytes - off : piece;
    chunk_->data = pcm + off;
    chunk_->size = static_cast<uint32_t>(len);
    chunk_->timestamp = timeGetTime();
    chunk_->outSize = 0;
    chunk_->outData = nullptr;
    if (!StopRequested() && sink_) sink_->OnAudioFrame(chunk_);
    delivered = true;
  }
  if (delivered) emptyPolls_ = 0;
  return delivered;
}

bool CCapAudioCoreAudio::DeliverPacket(const uint8_t* data, uint32_t frames, bool silent) {
  if (frames == 0 || !filter_ || !stereo_) return false;
  if (!data && !silent) return false;
  const uint32_t inFrameBytes = static_cast<uint32_t>(filter_->InputChannels() * filter_->Width());
  const uint32_t outFrameBytes = static_cast<uint32_t>(2 * filter_->Width());
  bool delivered = false;
  // A packet never exceeds the capture buffer, but the stereo buffer is only
  // that big: take it in slices rather than trust the count.
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = frames - done < stereoFrames_ ? frames - done : stereoFrames_;
    if (silent) {
      // The data of a silent-flagged packet is not to be read: send silence.
      memset(stereo_, filter_->SilenceByte(), static_cast<size_t>(n) * outFrameBytes);
    } else {
      filter_->Process(stereo_, data + static_cast<size_t>(done) * inFrameBytes, n);
    }
    uint8_t* pcm = stereo_;
    int bytes = static_cast<int>(n * outFrameBytes);
    if (resampling_) {
      if (resampler_->Convert(stereo_, static_cast<int>(n), &pcm, &bytes) < 0) {
        ZtLogger::Instance().Error("[Audio]audio resampler convert failed");
        bytes = 0;
      }
    }
    if (bytes > 0 && CutIntoPieces(pcm, bytes)) delivered = true;
    done += n;
  }
  return delivered;
}

int CCapAudioCoreAudio::Run() {
  bool entered = false;
  if (!EnterCom(&entered)) {
    ZtLogger::Instance().Error("[Audio]init COM fail");
    return -1;
  }
  MakeFilter();
  if (!StreamOpen() || !filter_) {
    ZtLogger::Instance().Error("[Audio]CoreAudio is not init");
    delete filter_;
    filter_ = nullptr;
    if (entered) CoUninitialize();
    return -1;
  }
  SetHighestPriority();
  if (FAILED(captureClient_->Start())) {
    ZtLogger::Instance().Error("[Audio]start recording fail");
  } else {
    ZtLogger::Instance().Info("[Audio]start capturing...");
    emptyPolls_ = 0;
    DWORD sleepMs = static_cast<DWORD>(bufferDuration_ / 10000 / 10);
    if (sleepMs == 0) sleepMs = 1;
    bool failed = false;
    while (!StopRequested() && !failed) {
      Sleep(sleepMs);
      UINT32 packet = 0;
      if (FAILED(captureService_->GetNextPacketSize(&packet))) {
        ZtLogger::Instance().Error("[Audio]capture client get next packet size fail");
        break;
      }
      if (packet == 0) {
        EmptyPoll();
        continue;
      }
      while (packet != 0 && !StopRequested()) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        if (captureService_->GetBuffer(&data, &frames, &flags, nullptr, nullptr) != S_OK) {
          ZtLogger::Instance().Error("[Audio]capture client get buffer fail");
          failed = true;
          break;
        }
        DeliverPacket(data, frames, (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0);
        if (FAILED(captureService_->ReleaseBuffer(frames))) {
          ZtLogger::Instance().Error("[Audio]capture client release buffer fail");
          failed = true;
          break;
        }
        if (FAILED(captureService_->GetNextPacketSize(&packet))) {
          ZtLogger::Instance().Error("[Audio]capture client get next packet size fail");
          failed = true;
          break;
        }
      }
    }
  }
  delete filter_;
  filter_ = nullptr;
  captureClient_->Stop();
  ZtLogger::Instance().Info("[Audio]stop capturing...");
  if (entered) CoUninitialize();
  return 0;
}
