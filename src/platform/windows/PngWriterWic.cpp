// PNG writer on the Windows Imaging Component: its PNG encoder
// (GUID_ContainerFormatPng) writing to a WIC stream on the file, opened by
// its wide name so that any folder name works. GL's RGBA rows, bottom first,
// become the encoder's BGRA rows, top first, one row at a time, so no second
// copy of the picture is made. The encoder writes the same bytes for the
// same pixels (it adds no time stamp).
//
// Links: ole32, windowscodecs.
//
// The thread joins a COM apartment for the write when it has none, and
// leaves it after; a thread already in one keeps it.
#include "platform/PngWriter.h"

// clang-format off
#include <windows.h>
#include <ole2.h>
#include <wincodec.h>
// clang-format on

#include <cstdio>
#include <vector>

#include "platform/windows/TextWin32.h"

namespace {

// Releases a COM object when it goes out of scope.
template <typename T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

std::string Failed(const char* step, HRESULT result) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (HRESULT 0x%08lX)", step, static_cast<unsigned long>(result));
  return text;
}

bool Encode(const std::wstring& path, const uint8_t* rgba, int width, int height, std::string& error) {
  Held<IWICImagingFactory> factory;
  HRESULT r = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                               reinterpret_cast<void**>(&factory));
  if (FAILED(r)) {
    error = Failed("creating the Windows Imaging Component", r);
    return false;
  }
  Held<IWICStream> stream;
  Held<IWICBitmapEncoder> encoder;
  Held<IWICBitmapFrameEncode> frame;
  Held<IPropertyBag2> options;
  if (FAILED(r = factory->CreateStream(&stream))) return error = Failed("creating a stream", r), false;
  if (FAILED(r = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE))) {
    return error = Failed("opening the file", r), false;
  }
  if (FAILED(r = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder))) {
    return error = Failed("creating the PNG encoder", r), false;
  }
  if (FAILED(r = encoder->Initialize(stream.p, WICBitmapEncoderNoCache))) {
    return error = Failed("starting the PNG encoder", r), false;
  }
  if (FAILED(r = encoder->CreateNewFrame(&frame, &options)) || FAILED(r = frame->Initialize(options.p))) {
    return error = Failed("starting the picture", r), false;
  }
  if (FAILED(r = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
    return error = Failed("setting the size", r), false;
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (FAILED(r = frame->SetPixelFormat(&format))) return error = Failed("setting the pixel format", r), false;
  // The encoder names the format it will really take; anything but BGRA
  // would misread the rows below.
  if (format != GUID_WICPixelFormat32bppBGRA) {
    error = "the PNG encoder takes no 8-bit BGRA with alpha";
    return false;
  }
  const UINT stride = static_cast<UINT>(width) * 4;
  std::vector<BYTE> row(stride);
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* source = rgba + static_cast<size_t>(y) * stride;
    for (UINT x = 0; x < stride; x += 4) {
      row[x] = source[x + 2];
      row[x + 1] = source[x + 1];
      row[x + 2] = source[x];
      row[x + 3] = source[x + 3];
    }
    if (FAILED(r = frame->WritePixels(1, stride, stride, row.data()))) {
      return error = Failed("writing the pixels", r), false;
    }
  }
  if (FAILED(r = frame->Commit()) || FAILED(r = encoder->Commit())) {
    return error = Failed("finishing the file", r), false;
  }
  return true;
}

}  // namespace

bool WritePngBottomUp(const std::string& path, const uint8_t* rgba, int width, int height,
                      std::string& error) {
  if (width <= 0 || height <= 0) {
    error = "the picture " + std::to_string(width) + "x" + std::to_string(height) + " is empty";
    return false;
  }
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool ok = Encode(WideText(path), rgba, width, height, error);
  // S_OK and S_FALSE both count a use of the apartment; a thread already in a
  // multithreaded one (RPC_E_CHANGED_MODE) stays there untouched.
  if (SUCCEEDED(joined)) CoUninitialize();
  return ok;
}
