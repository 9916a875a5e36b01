// Pictures service on Windows, PNG bitmap decoder backend: the Windows
// Imaging Component's PNG decoder (CLSID_WICPngDecoder1 through
// CoCreateInstance), its frame converted to premultiplied BGRA by
// WICConvertBitmapSource.
//
// Links: ole32, windowscodecs, uuid.
//
// A decoder keeps the thread in a COM apartment from its creation to its
// release (joining one when the thread has none). The bytes are read through
// a stream over a copy of them on a global memory block. Conversion to
// premultiplied BGRA is WIC's, gamma and colour profiles as WIC applies them.
// When no decoder object can be created, GetLastError says why, as the
// diagnostic WriteDecoderCreationFailure prints it.
#include "platform/Pictures.h"
#include "platform/PicturesTesting.h"

// clang-format off
#include <windows.h>
#include <ole2.h>
#include <wincodec.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Messages.h"

struct PngBitmapDecoder {
  IWICBitmapDecoder* decoder = nullptr;
  IStream* stream = nullptr;
  bool joinedCom = false;
  bool initialized = false;
  // WIC refused the file although its signature and header are there: some
  // WIC decoders read the whole image on Initialize, so a PNG cut in its
  // image data fails there instead of when decoded. It is still a PNG, of
  // one frame that cannot be decoded.
  bool damaged = false;
};

namespace {

// Same cap as the picture loader: 1 GiB of BGRA at most.
constexpr uint64_t MaxBitmapPixels = uint64_t(1) << 28;

bool creationFails = false;

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

void SetPngBitmapDecoderCreationFails(bool fails) { creationFails = fails; }

PngBitmapDecoder* CreatePngBitmapDecoder() {
  if (creationFails) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* decoder = new (std::nothrow) PngBitmapDecoder;
  if (!decoder) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  decoder->joinedCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const HRESULT created = CoCreateInstance(CLSID_WICPngDecoder1, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICBitmapDecoder, reinterpret_cast<void**>(&decoder->decoder));
  if (FAILED(created) || !decoder->decoder) {
    // The thread's last error is what the diagnostic reports: keep it past
    // the clean-up.
    const DWORD lastError = GetLastError();
    if (decoder->joinedCom) CoUninitialize();
    delete decoder;
    SetLastError(lastError);
    return nullptr;
  }
  return decoder;
}

bool InitializePngBitmapDecoder(PngBitmapDecoder* decoder, const uint8_t* data, size_t size) {
  if (!decoder || decoder->initialized || !data || size < sizeof PngSignature || size > 0xFFFFFFFFu) return false;
  if (std::memcmp(data, PngSignature, sizeof PngSignature) != 0) return false;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return false;
  if (void* bytes = GlobalLock(block)) {
    std::memcpy(bytes, data, size);
    GlobalUnlock(block);
  } else {
    GlobalFree(block);
    return false;
  }
  if (CreateStreamOnHGlobal(block, TRUE, &decoder->stream) != S_OK) {
    GlobalFree(block);
    decoder->stream = nullptr;
    return false;
  }
  decoder->initialized = true;
  if (FAILED(decoder->decoder->Initialize(decoder->stream, WICDecodeMetadataCacheOnLoad))) {
    // The signature and a whole IHDR chunk (length 13, its type, its data
    // and CRC) make it a PNG whose image is damaged; anything less is none.
    constexpr size_t HeaderEnd = 8 + 4 + 4 + 13 + 4;
    decoder->damaged = size >= HeaderEnd && std::memcmp(data + 12, "IHDR", 4) == 0;
    decoder->initialized = decoder->damaged;
  }
  return decoder->initialized;
}

uint32_t PngBitmapFrameCount(const PngBitmapDecoder* decoder) {
  if (!decoder || !decoder->initialized) return 0;
  if (decoder->damaged) return 1;
  UINT count = 0;
  if (FAILED(decoder->decoder->GetFrameCount(&count))) return 0;
  return count;
}

bool DecodePngBitmapFrame(PngBitmapDecoder* decoder, PremultipliedBitmap& bitmap) {
  bitmap = PremultipliedBitmap{};
  if (!decoder || !decoder->initialized || decoder->damaged) return false;
  IWICBitmapFrameDecode* frame = nullptr;
  if (FAILED(decoder->decoder->GetFrame(0, &frame)) || !frame) return false;
  IWICBitmapSource* converted = nullptr;
  const HRESULT conversion = WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, frame, &converted);
  frame->Release();
  if (FAILED(conversion) || !converted) return false;

  bool ok = false;
  UINT width = 0, height = 0;
  if (SUCCEEDED(converted->GetSize(&width, &height)) && width > 0 && height > 0 &&
      uint64_t(width) * height <= MaxBitmapPixels) {
    try {
      bitmap.pixels.assign(size_t(width) * height * 4, 0);
      const UINT stride = width * 4;
      // A damaged image shows here: WIC decodes the pixels when they are copied.
      ok = SUCCEEDED(converted->CopyPixels(nullptr, stride, UINT(bitmap.pixels.size()), bitmap.pixels.data()));
    } catch (const std::bad_alloc&) {
      Say(Subsystem::Images, "no memory for a %ux%u PNG bitmap: the picture is not drawn", width, height);
      ok = false;
    }
  }
  converted->Release();
  if (!ok) {
    bitmap = PremultipliedBitmap{};
    return false;
  }
  bitmap.width = width;
  bitmap.height = height;
  return true;
}

void ReleasePngBitmapDecoder(PngBitmapDecoder* decoder) {
  if (!decoder) return;
  if (decoder->decoder) decoder->decoder->Release();
  if (decoder->stream) decoder->stream->Release();
  if (decoder->joinedCom) CoUninitialize();
  delete decoder;
}

void WriteDecoderCreationFailure() {
  std::fputs("failed", stdout);
  // The number is read after the first write, so it is whatever that write
  // left behind, as the one who reads this diagnostic expects.
  const DWORD lastError = GetLastError();
  std::printf("\n%d \n", int(lastError));
  std::fflush(stdout);
}
