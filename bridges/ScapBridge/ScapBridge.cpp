// libScapBridge.dll: desktop duplication (D3D11 + IDXGIOutputDuplication) of
// one monitor into BGRA pictures. See ScapBridge.h for the interface.
//
// Not covered: outputs rotated by the display settings come out unrotated
// (as the GPU scans them), and a rectangle is clipped to the one monitor
// named in the set-up record.
#include "bridges/ScapBridge/ScapBridge.h"

#include "classlib/ComPtr.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxSide = 16384;
// How long GetFrame waits for a new desktop image before it hands out the
// last one: short, since the caller paces itself.
constexpr UINT kAcquireTimeoutMs = 5;

struct Pointer {
  bool visible = false;
  POINT position{0, 0};  // top-left of the shape, in output coordinates
  DXGI_OUTDUPL_POINTER_SHAPE_INFO info{};
  std::vector<uint8_t> shape;
};

struct Duplication {
  // Released in reverse order: the staging texture first, the device last.
  cl::ComPtr<ID3D11Device> device;
  cl::ComPtr<ID3D11DeviceContext> context;
  cl::ComPtr<IDXGIOutputDuplication> dupl;
  cl::ComPtr<ID3D11Texture2D> staging;
  RECT output{0, 0, 0, 0};  // the monitor on the virtual desktop
  int imageWidth = 0;       // the duplicated image, in its own pixels
  int imageHeight = 0;
  RECT source{0, 0, 0, 0};  // the area read, in image pixels
  KvDxgiSetup setup{};
  std::vector<uint8_t> picture;  // the last picture, width x height x 4
  Pointer pointer;
};

SRWLOCK g_lock = SRWLOCK_INIT;
Duplication* g_dup = nullptr;

bool SameDeviceName(const wchar_t* wide, const char* narrow) {
  char converted[64] = {0};
  if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, converted, sizeof(converted) - 1, nullptr,
                           nullptr))
    return false;
  return lstrcmpiA(converted, narrow) == 0;
}

// The output named in the record (or the one at the desktop's origin when the
// name is empty) and its adapter; both referenced, or false.
bool FindOutput(const char* name, cl::ComPtr<IDXGIAdapter1>* adapterOut,
                cl::ComPtr<IDXGIOutput>* outputOut, RECT* rect) {
  cl::ComPtr<IDXGIFactory1> factory;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.put()))))
    return false;
  cl::ComPtr<IDXGIAdapter1> adapter;
  for (UINT a = 0; factory->EnumAdapters1(a, adapter.put()) != DXGI_ERROR_NOT_FOUND; ++a) {
    cl::ComPtr<IDXGIOutput> output;
    for (UINT o = 0; adapter->EnumOutputs(o, output.put()) != DXGI_ERROR_NOT_FOUND; ++o) {
      DXGI_OUTPUT_DESC desc;
      if (SUCCEEDED(output->GetDesc(&desc)) && desc.AttachedToDesktop) {
        const RECT& r = desc.DesktopCoordinates;
        const bool match = name[0] ? SameDeviceName(desc.DeviceName, name)
                                   : (r.left <= 0 && r.top <= 0 && r.right > 0 && r.bottom > 0);
        if (match) {
          *rect = r;
          *outputOut = std::move(output);
          *adapterOut = std::move(adapter);
          return true;
        }
      }
    }
  }
  return false;
}

// Copies the source area of the mapped desktop image into the picture,
// scaling by nearest sample when the sizes differ; parts outside the monitor
// stay black.
void CopyArea(Duplication& d, const D3D11_MAPPED_SUBRESOURCE& mapped) {
  const KvDxgiSetup& s = d.setup;
  const RECT& a = d.source;
  const int64_t areaW = a.right - a.left;
  const int64_t areaH = a.bottom - a.top;
  const uint8_t* src = static_cast<const uint8_t*>(mapped.pData);
  for (int y = 0; y < s.height; ++y) {
    uint32_t* dst =
        reinterpret_cast<uint32_t*>(d.picture.data() + static_cast<size_t>(y) * s.width * 4);
    const int sy = a.top + static_cast<int>(y * areaH / s.height);
    if (sy < 0 || sy >= d.imageHeight) {
      memset(dst, 0, static_cast<size_t>(s.width) * 4);
      continue;
    }
    const uint32_t* row =
        reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(sy) * mapped.RowPitch);
    for (int x = 0; x < s.width; ++x) {
      const int sx = a.left + static_cast<int>(x * areaW / s.width);
      dst[x] = (sx >= 0 && sx < d.imageWidth) ? row[sx] : 0;
    }
  }
}

void UpdatePointer(Duplication& d, const DXGI_OUTDUPL_FRAME_INFO& info) {
  if (info.LastMouseUpdateTime.QuadPart == 0) return;
  d.pointer.visible = info.PointerPosition.Visible != FALSE;
  d.pointer.position = info.PointerPosition.Position;
  if (info.PointerShapeBufferSize == 0) return;
  std::vector<uint8_t> shape(info.PointerShapeBufferSize);
  UINT needed = 0;
  DXGI_OUTDUPL_POINTER_SHAPE_INFO shapeInfo{};
  if (SUCCEEDED(d.dupl->GetFramePointerShape(static_cast<UINT>(shape.size()), shape.data(), &needed,
                                             &shapeInfo))) {
    d.pointer.shape.swap(shape);
    d.pointer.info = shapeInfo;
  }
}

// Draws the pointer shape (unscaled) at its place in the picture.
void DrawPointer(const Duplication& d, uint8_t* picture) {
  const Pointer& p = d.pointer;
  const KvDxgiSetup& s = d.setup;
  if (!p.visible || p.shape.empty() || p.info.Width == 0) return;
  const RECT& a = d.source;
  if (a.right <= a.left || a.bottom <= a.top) return;
  const int px = static_cast<int>(static_cast<int64_t>(p.position.x - a.left) * s.width /
                                  (a.right - a.left));
  const int py = static_cast<int>(static_cast<int64_t>(p.position.y - a.top) * s.height /
                                  (a.bottom - a.top));
  const bool mono = p.info.Type == DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME;
  const int w = static_cast<int>(p.info.Width);
  const int h = static_cast<int>(mono ? p.info.Height / 2 : p.info.Height);
  const size_t pitch = p.info.Pitch;
  for (int y = 0; y < h; ++y) {
    const int ty = py + y;
    if (ty < 0 || ty >= s.height) continue;
    for (int x = 0; x < w; ++x) {
      const int tx = px + x;
      if (tx < 0 || tx >= s.width) continue;
      uint8_t* dst = picture + (static_cast<size_t>(ty) * s.width + tx) * 4;
      uint32_t pixel;
      memcpy(&pixel, dst, 4);
      if (mono) {
        const size_t maskAt = y * pitch + x / 8;
        const size_t xorAt = (y + h) * pitch + x / 8;
        if (xorAt >= p.shape.size()) continue;
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
        const uint32_t andMask = (p.shape[maskAt] & bit) ? 0xFFFFFFFFu : 0xFF000000u;
        const uint32_t xorMask = (p.shape[xorAt] & bit) ? 0x00FFFFFFu : 0u;
        pixel = (pixel & andMask) ^ xorMask;
      } else {
        const size_t at = y * pitch + static_cast<size_t>(x) * 4;
        if (at + 4 > p.shape.size()) continue;
        uint32_t c;
        memcpy(&c, &p.shape[at], 4);
        const uint32_t alpha = c >> 24;
        if (p.info.Type == DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MASKED_COLOR) {
          pixel = alpha ? (pixel ^ (c & 0x00FFFFFFu)) : (c & 0x00FFFFFFu);
        } else {
          uint32_t out = 0;
          for (int k = 0; k < 24; k += 8) {
            const uint32_t a = (c >> k) & 0xFF, b = (pixel >> k) & 0xFF;
            out |= ((a * alpha + b * (255 - alpha)) / 255) << k;
          }
          pixel = out;
        }
      }
      memcpy(dst, &pixel, 4);
    }
  }
}

Duplication* Open(const KvDxgiSetup& setup) {
  char name[65] = {0};
  memcpy(name, setup.deviceName, sizeof(setup.deviceName));
  cl::ComPtr<IDXGIAdapter1> adapter;
  cl::ComPtr<IDXGIOutput> output;
  RECT rect;
  if (!FindOutput(name, &adapter, &output, &rect)) return nullptr;

  Duplication* d = new (std::nothrow) Duplication();
  if (!d) return nullptr;
  d->setup = setup;
  d->output = rect;
  HRESULT hr = D3D11CreateDevice(adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, nullptr, 0,
                                 D3D11_SDK_VERSION, d->device.put(), nullptr, d->context.put());
  cl::ComPtr<IDXGIOutput1> output1;
  if (SUCCEEDED(hr))
    hr = output->QueryInterface(__uuidof(IDXGIOutput1), reinterpret_cast<void**>(output1.put()));
  if (SUCCEEDED(hr)) hr = output1->DuplicateOutput(d->device.get(), d->dupl.put());
  if (FAILED(hr) || !d->dupl) {
    delete d;
    return nullptr;
  }
  return d;
}

bool PrepareCapture(Duplication& d) {
  DXGI_OUTDUPL_DESC desc;
  d.dupl->GetDesc(&desc);
  D3D11_TEXTURE2D_DESC td{};
  td.Width = desc.ModeDesc.Width;
  td.Height = desc.ModeDesc.Height;
  td.MipLevels = 1;
  td.ArraySize = 1;
  td.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  td.SampleDesc.Count = 1;
  td.Usage = D3D11_USAGE_STAGING;
  td.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  if (FAILED(d.device->CreateTexture2D(&td, nullptr, d.staging.put()))) return false;
  // The image can have more pixels than the monitor has desktop units (DPI
  // scaling of a program that is not DPI aware): map the area into image
  // pixels. The whole monitor is the whole image, whatever the scaling.
  d.imageWidth = static_cast<int>(desc.ModeDesc.Width);
  d.imageHeight = static_cast<int>(desc.ModeDesc.Height);
  const KvDxgiSetup& s = d.setup;
  const int64_t unitsW = d.output.right - d.output.left;
  const int64_t unitsH = d.output.bottom - d.output.top;
  if (s.regionMode == 0 || unitsW <= 0 || unitsH <= 0) {
    d.source = RECT{0, 0, d.imageWidth, d.imageHeight};
  } else {
    d.source.left = static_cast<LONG>(static_cast<int64_t>(s.originX - d.output.left) * d.imageWidth / unitsW);
    d.source.top = static_cast<LONG>(static_cast<int64_t>(s.originY - d.output.top) * d.imageHeight / unitsH);
    d.source.right = d.source.left + static_cast<LONG>(static_cast<int64_t>(s.sourceWidth) * d.imageWidth / unitsW);
    d.source.bottom = d.source.top + static_cast<LONG>(static_cast<int64_t>(s.sourceHeight) * d.imageHeight / unitsH);
    if (d.source.right <= d.source.left || d.source.bottom <= d.source.top) return false;
  }
  try {
    d.picture.assign(static_cast<size_t>(d.setup.width) * d.setup.height * 4, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ValidSetup(const KvDxgiSetup& s, bool* probe) {
  *probe = s.width == 0 || s.height == 0;
  if (*probe) return true;
  if (s.width < 0 || s.height < 0 || s.width > kMaxSide || s.height > kMaxSide) return false;
  if (s.sourceWidth <= 0 || s.sourceHeight <= 0 || s.sourceWidth > kMaxSide * 2 ||
      s.sourceHeight > kMaxSide * 2)
    return false;
  return true;
}

}  // namespace

extern "C" {

int KvDxgiCaptorInit(const KvDxgiSetup* setup) {
  if (!setup) return 0;
  bool probe = false;
  if (!ValidSetup(*setup, &probe)) return 0;
  AcquireSRWLockExclusive(&g_lock);
  delete g_dup;
  g_dup = Open(*setup);
  int ok = g_dup != nullptr;
  if (ok && probe) {
    delete g_dup;  // the probe only asks whether duplication can run
    g_dup = nullptr;
  } else if (ok && !PrepareCapture(*g_dup)) {
    delete g_dup;
    g_dup = nullptr;
    ok = 0;
  }
  ReleaseSRWLockExclusive(&g_lock);
  return ok;
}

int KvDxgiCaptorGetFrame(uint8_t* buffer, uint8_t cursor) {
  if (!buffer) return KV_DXGI_FAILED;
  AcquireSRWLockExclusive(&g_lock);
  Duplication* d = g_dup;
  if (!d || !d->staging) {
    ReleaseSRWLockExclusive(&g_lock);
    return KV_DXGI_FAILED;
  }
  DXGI_OUTDUPL_FRAME_INFO info{};
  cl::ComPtr<IDXGIResource> resource;
  HRESULT hr = d->dupl->AcquireNextFrame(kAcquireTimeoutMs, &info, resource.put());
  int result = KV_DXGI_SAME_FRAME;
  if (hr == DXGI_ERROR_WAIT_TIMEOUT) {
    result = KV_DXGI_SAME_FRAME;
  } else if (FAILED(hr)) {
    result = KV_DXGI_FAILED;  // access lost, mode change, desktop switch
  } else {
    if (info.LastPresentTime.QuadPart != 0) {
      cl::ComPtr<ID3D11Texture2D> texture;
      if (SUCCEEDED(resource->QueryInterface(__uuidof(ID3D11Texture2D),
                                             reinterpret_cast<void**>(texture.put())))) {
        d->context->CopyResource(d->staging.get(), texture.get());
        D3D11_MAPPED_SUBRESOURCE mapped;
        if (SUCCEEDED(d->context->Map(d->staging.get(), 0, D3D11_MAP_READ, 0, &mapped))) {
          CopyArea(*d, mapped);
          d->context->Unmap(d->staging.get(), 0);
          result = KV_DXGI_NEW_FRAME;
        }
      }
    }
    UpdatePointer(*d, info);
    resource.reset();
    d->dupl->ReleaseFrame();
  }
  if (result != KV_DXGI_FAILED) {
    memcpy(buffer, d->picture.data(), d->picture.size());
    if (cursor) DrawPointer(*d, buffer);
  }
  ReleaseSRWLockExclusive(&g_lock);
  return result;
}

int KvDxgiCaptorFree(void) {
  AcquireSRWLockExclusive(&g_lock);
  delete g_dup;
  g_dup = nullptr;
  ReleaseSRWLockExclusive(&g_lock);
  return 0;
}

}  // extern "C"
