// Video encoding service on Media Foundation: the sink writer
// (MFCreateSinkWriterFromURL) with the system's H.264 and AAC encoders,
// writing MP4.
//
// How: pictures arrive as GL's RGBA rows, bottom first; they are handed to
// the sink writer as top-down RGB32 (BGRX), which it converts for the H.264
// encoder itself. Sound arrives as float samples and goes in as 16-bit PCM,
// the only input of the system's AAC encoder, mixed down to two channels.
// Sample times are whole frames and whole samples in 100 ns units, computed
// from the counts, so they never drift.
//
// The system's libraries are loaded at run time, not linked: on Windows N
// editions mfplat.dll and mfreadwrite.dll are missing until the Media
// Feature Pack is installed, and a linked import would stop demo.exe from
// starting at all. CheckVideoEncoding asks MFTEnumEx for an H.264 and an AAC
// encoder before any file exists, so a system without them (N editions,
// Wine) is refused at once with the reason.
//
// What it cannot do:
// - Matroska: Media Foundation has no writer for it; a .mkv name is refused.
// - The AAC encoder takes 44100 or 48000 samples a second only; music at
//   another rate is refused rather than resampled.
// Links: ole32, mfuuid (GUIDs only).
#include "platform/VideoEncoder.h"

// clang-format off
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/windows/MediaFoundationTesting.h"
#include "platform/windows/TextWin32.h"

namespace {

const MediaFoundationCalls* replacedCalls = nullptr;

// The entry points used, found in the two libraries once per run.
struct MediaFoundation {
  decltype(&MFStartup) startup = nullptr;
  decltype(&MFShutdown) shutdown = nullptr;
  decltype(&MFTEnumEx) enumerateTransforms = nullptr;
  decltype(&MFCreateAttributes) createAttributes = nullptr;
  decltype(&MFCreateMediaType) createMediaType = nullptr;
  decltype(&MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
  decltype(&MFCreateSample) createSample = nullptr;
  decltype(&MFCreateSinkWriterFromURL) createSinkWriter = nullptr;
};

const MediaFoundation* Load(std::string& why) {
  static MediaFoundation mf;
  static std::string failure;
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE platform = LoadLibraryW(L"mfplat.dll");
    HMODULE readWrite = platform ? LoadLibraryW(L"mfreadwrite.dll") : nullptr;
    if (!platform || !readWrite) {
      failure = std::string("this system has no Media Foundation (") + (platform ? "mfreadwrite" : "mfplat") +
                ".dll is missing; Windows N editions need the Media Feature Pack)";
      return;
    }
    auto find = [](HMODULE library, auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
          reinterpret_cast<void*>(GetProcAddress(library, name)));
      if (!function && failure.empty()) failure = std::string("Media Foundation lacks ") + name;
    };
    find(platform, mf.startup, "MFStartup");
    find(platform, mf.shutdown, "MFShutdown");
    find(platform, mf.enumerateTransforms, "MFTEnumEx");
    find(platform, mf.createAttributes, "MFCreateAttributes");
    find(platform, mf.createMediaType, "MFCreateMediaType");
    find(platform, mf.createMemoryBuffer, "MFCreateMemoryBuffer");
    find(platform, mf.createSample, "MFCreateSample");
    find(readWrite, mf.createSinkWriter, "MFCreateSinkWriterFromURL");
  });
  why = failure;
  return failure.empty() ? &mf : nullptr;
}

std::string Failed(const char* step, HRESULT result) {
  char text[128];
  std::snprintf(text, sizeof text, "%s failed (HRESULT 0x%08lX)", step, static_cast<unsigned long>(result));
  return text;
}

// Media Foundation's calls want the thread in a COM apartment; a thread that
// has none joins the multithreaded one for the rest of its life.
void JoinCom() {
  thread_local bool joined = false;
  if (!joined) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    joined = true;
  }
}

// Whether an encoder transform from PCM or uncompressed video to subtype is
// registered (synchronous, asynchronous or hardware).
bool HasEncoder(const MediaFoundation& mf, const GUID& category, const GUID& major, const GUID& subtype) {
  if (replacedCalls) return replacedCalls->hasEncoder(category, major, subtype);
  MFT_REGISTER_TYPE_INFO output{major, subtype};
  IMFActivate** found = nullptr;
  UINT32 count = 0;
  const UINT32 flags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_HARDWARE |
                       MFT_ENUM_FLAG_SORTANDFILTER;
  if (FAILED(mf.enumerateTransforms(category, flags, nullptr, &output, &found, &count))) count = 0;
  for (UINT32 i = 0; i < count; ++i) found[i]->Release();
  CoTaskMemFree(found);
  return count > 0;
}

template <typename T>
void Release(T*& object) {
  if (object) object->Release();
  object = nullptr;
}

constexpr LONGLONG TicksPerSecond = 10000000;  // Media Foundation's 100 ns units
constexpr UINT32 AacBytesPerSecond = 24000;    // 192 kbit/s, as on Linux

}  // namespace

struct VideoEncoder {
  const MediaFoundation* mf = nullptr;
  IMFSinkWriter* writer = nullptr;
  DWORD videoStream = 0;
  DWORD audioStream = 0;
  int width = 0;
  int height = 0;
  int fps = 0;
  int audioRate = 0;
  int audioChannels = 0;  // of the samples handed in
  int outputChannels = 0;
  int64_t frames = 0;
  int64_t samples = 0;
  std::vector<BYTE> picture;
  std::vector<int16_t> sound;

  ~VideoEncoder() {
    Release(writer);
    if (mf) mf->shutdown();
  }
};

namespace {

IMFMediaType* MediaType(VideoEncoder* e, std::string& error) {
  IMFMediaType* type = nullptr;
  const HRESULT r = e->mf->createMediaType(&type);
  if (FAILED(r)) error = Failed("creating a media type", r);
  return type;
}

bool AddVideo(VideoEncoder* e, std::string& error) {
  IMFMediaType* output = MediaType(e, error);
  IMFMediaType* input = output ? MediaType(e, error) : nullptr;
  HRESULT r = input ? S_OK : E_FAIL;
  // About a tenth of a bit per pixel and frame: 8 Mbit/s at 1920x1080 and 60 fps.
  const UINT32 bitRate = static_cast<UINT32>(std::min<int64_t>(int64_t(e->width) * e->height * e->fps / 16, 100000000));
  for (IMFMediaType* type : {output, input}) {
    if (FAILED(r)) break;
    const bool out = type == output;
    r = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(r)) r = type->SetGUID(MF_MT_SUBTYPE, out ? MFVideoFormat_H264 : MFVideoFormat_RGB32);
    if (SUCCEEDED(r) && out) r = type->SetUINT32(MF_MT_AVG_BITRATE, bitRate);
    if (SUCCEEDED(r) && !out) r = type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(e->width * 4));
    if (SUCCEEDED(r)) r = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(r)) r = MFSetAttributeSize(type, MF_MT_FRAME_SIZE, e->width, e->height);
    if (SUCCEEDED(r)) r = MFSetAttributeRatio(type, MF_MT_FRAME_RATE, e->fps, 1);
    if (SUCCEEDED(r)) r = MFSetAttributeRatio(type, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  }
  if (SUCCEEDED(r)) r = e->writer->AddStream(output, &e->videoStream);
  if (SUCCEEDED(r)) r = e->writer->SetInputMediaType(e->videoStream, input, nullptr);
  if (FAILED(r) && error.empty()) error = Failed("setting up the H.264 encoder", r);
  Release(output);
  Release(input);
  return SUCCEEDED(r);
}

bool AddAudio(VideoEncoder* e, std::string& error) {
  if (e->audioRate != 44100 && e->audioRate != 48000) {
    error = "the system's AAC encoder takes 44100 or 48000 samples a second, and the music has " +
            std::to_string(e->audioRate);
    return false;
  }
  e->outputChannels = std::min(e->audioChannels, 2);
  IMFMediaType* output = MediaType(e, error);
  IMFMediaType* input = output ? MediaType(e, error) : nullptr;
  HRESULT r = input ? S_OK : E_FAIL;
  for (IMFMediaType* type : {output, input}) {
    if (FAILED(r)) break;
    const bool out = type == output;
    r = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(r)) r = type->SetGUID(MF_MT_SUBTYPE, out ? MFAudioFormat_AAC : MFAudioFormat_PCM);
    if (SUCCEEDED(r)) r = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(r)) r = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, static_cast<UINT32>(e->audioRate));
    if (SUCCEEDED(r)) r = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, static_cast<UINT32>(e->outputChannels));
    if (SUCCEEDED(r) && out) r = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, AacBytesPerSecond);
    if (SUCCEEDED(r) && !out) r = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, static_cast<UINT32>(e->outputChannels * 2));
    if (SUCCEEDED(r) && !out) {
      r = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, static_cast<UINT32>(e->audioRate * e->outputChannels * 2));
    }
  }
  if (SUCCEEDED(r)) r = e->writer->AddStream(output, &e->audioStream);
  if (SUCCEEDED(r)) r = e->writer->SetInputMediaType(e->audioStream, input, nullptr);
  if (FAILED(r) && error.empty()) error = Failed("setting up the AAC encoder", r);
  Release(output);
  Release(input);
  return SUCCEEDED(r);
}

// Hands bytes to the writer as one sample of stream from time for duration.
bool WriteSample(VideoEncoder* e, DWORD stream, const void* bytes, DWORD size, LONGLONG time, LONGLONG duration,
                 std::string& error) {
  JoinCom();
  IMFMediaBuffer* buffer = nullptr;
  IMFSample* sample = nullptr;
  HRESULT r = e->mf->createMemoryBuffer(size, &buffer);
  BYTE* data = nullptr;
  if (SUCCEEDED(r)) r = buffer->Lock(&data, nullptr, nullptr);
  if (SUCCEEDED(r)) {
    std::copy_n(static_cast<const BYTE*>(bytes), size, data);
    buffer->Unlock();
    r = buffer->SetCurrentLength(size);
  }
  if (SUCCEEDED(r)) r = e->mf->createSample(&sample);
  if (SUCCEEDED(r)) r = sample->AddBuffer(buffer);
  if (SUCCEEDED(r)) r = sample->SetSampleTime(time);
  if (SUCCEEDED(r)) r = sample->SetSampleDuration(duration);
  if (SUCCEEDED(r)) r = e->writer->WriteSample(stream, sample);
  Release(sample);
  Release(buffer);
  if (FAILED(r)) error = Failed(stream == e->videoStream ? "encoding a picture" : "encoding the sound", r);
  return SUCCEEDED(r);
}

}  // namespace

void ReplaceMediaFoundationCalls(const MediaFoundationCalls* calls) { replacedCalls = calls; }

bool CheckVideoEncoding(VideoContainer container, std::string& why) {
  if (container == VideoContainer::Matroska) {
    why = "Matroska (.mkv) cannot be written on Windows: Media Foundation writes MP4 (.mp4)";
    return false;
  }
  const MediaFoundation* mf = Load(why);
  if (!mf) return false;
  JoinCom();
  const HRESULT started = mf->startup(MF_VERSION, MFSTARTUP_LITE);
  if (FAILED(started)) {
    why = Failed("starting Media Foundation", started);
    return false;
  }
  const bool video = HasEncoder(*mf, MFT_CATEGORY_VIDEO_ENCODER, MFMediaType_Video, MFVideoFormat_H264);
  const bool audio = HasEncoder(*mf, MFT_CATEGORY_AUDIO_ENCODER, MFMediaType_Audio, MFAudioFormat_AAC);
  mf->shutdown();
  if (video && audio) return true;
  why = std::string("this system has no ") + (video ? "AAC" : audio ? "H.264" : "H.264 or AAC") +
        " encoder in Media Foundation, which video capture needs (Windows N editions lack them until the "
        "Media Feature Pack is installed; Wine has none)";
  return false;
}

VideoEncoder* OpenVideoEncoder(const VideoEncoderSettings& s, std::string& error) {
  if (s.width <= 0 || s.height <= 0 || s.width % 2 != 0 || s.height % 2 != 0) {
    error = "H.264 video needs an even width and height, not " + std::to_string(s.width) + "x" +
            std::to_string(s.height);
    return nullptr;
  }
  if (s.fps <= 0) {
    error = "the frame rate must be positive";
    return nullptr;
  }
  if (!CheckVideoEncoding(s.container, error)) return nullptr;
  const MediaFoundation* mf = Load(error);
  HRESULT r = mf->startup(MF_VERSION, MFSTARTUP_LITE);
  if (FAILED(r)) {
    error = Failed("starting Media Foundation", r);
    return nullptr;
  }
  auto* e = new VideoEncoder;
  e->mf = mf;
  e->width = s.width;
  e->height = s.height;
  e->fps = s.fps;
  e->audioRate = s.audioRate;
  e->audioChannels = s.audioChannels;
  IMFAttributes* attributes = nullptr;
  r = mf->createAttributes(&attributes, 3);
  // The file's name is a temporary one whose ending says nothing: the
  // container is named, not guessed.
  if (SUCCEEDED(r)) r = attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_MPEG4);
  // Pictures come as fast as they are drawn; the writer need not pace them.
  if (SUCCEEDED(r)) r = attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, TRUE);
  if (SUCCEEDED(r)) r = attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, TRUE);
  if (SUCCEEDED(r)) {
    const std::wstring url = WideText(s.path);
    r = replacedCalls ? replacedCalls->createSinkWriter(url.c_str(), nullptr, attributes, &e->writer)
                      : mf->createSinkWriter(url.c_str(), nullptr, attributes, &e->writer);
  }
  Release(attributes);
  if (FAILED(r)) {
    error = "cannot write '" + s.path + "': " + Failed("creating the sink writer", r);
    delete e;
    return nullptr;
  }
  bool ok = AddVideo(e, error) && (s.audioRate <= 0 || s.audioChannels <= 0 || AddAudio(e, error));
  if (ok && FAILED(r = e->writer->BeginWriting())) {
    error = Failed("starting the file", r);
    ok = false;
  }
  if (!ok) {
    delete e;
    return nullptr;
  }
  return e;
}

bool EncodeVideoFrame(VideoEncoder* e, const uint8_t* rgba, std::string& error) {
  if (!e) {
    error = "no encoder";
    return false;
  }
  const size_t stride = static_cast<size_t>(e->width) * 4;
  e->picture.resize(stride * e->height);
  for (int y = 0; y < e->height; ++y) {
    const uint8_t* source = rgba + (e->height - 1 - y) * stride;
    BYTE* target = e->picture.data() + y * stride;
    for (size_t x = 0; x < stride; x += 4) {
      target[x] = source[x + 2];
      target[x + 1] = source[x + 1];
      target[x + 2] = source[x];
      target[x + 3] = 255;
    }
  }
  const LONGLONG start = e->frames * TicksPerSecond / e->fps;
  const LONGLONG end = (e->frames + 1) * TicksPerSecond / e->fps;
  if (!WriteSample(e, e->videoStream, e->picture.data(), static_cast<DWORD>(e->picture.size()), start,
                   end - start, error)) {
    return false;
  }
  ++e->frames;
  return true;
}

bool EncodeAudioSamples(VideoEncoder* e, const float* samples, long frames, std::string& error) {
  if (!e) {
    error = "no encoder";
    return false;
  }
  if (e->outputChannels == 0 || frames <= 0) return true;
  e->sound.resize(static_cast<size_t>(frames) * e->outputChannels);
  const int in = e->audioChannels;
  for (long f = 0; f < frames; ++f) {
    for (int c = 0; c < e->outputChannels; ++c) {
      // More channels than two: every further channel goes to both sides.
      float value = samples[f * in + c];
      for (int extra = 2; extra < in; ++extra) value += samples[f * in + extra];
      if (in > 2) value /= static_cast<float>(in - 1);
      value = std::clamp(value, -1.0f, 1.0f);
      e->sound[static_cast<size_t>(f) * e->outputChannels + c] = static_cast<int16_t>(value * 32767.0f);
    }
  }
  const LONGLONG start = e->samples * TicksPerSecond / e->audioRate;
  const LONGLONG end = (e->samples + frames) * TicksPerSecond / e->audioRate;
  if (!WriteSample(e, e->audioStream, e->sound.data(), static_cast<DWORD>(e->sound.size() * 2), start, end - start,
                   error)) {
    return false;
  }
  e->samples += frames;
  return true;
}

bool FinishVideoEncoder(VideoEncoder* e, std::string& error) {
  if (!e) {
    error = "no encoder";
    return false;
  }
  JoinCom();
  const HRESULT r = e->writer->Finalize();
  if (FAILED(r)) error = Failed("completing the file", r);
  delete e;
  return SUCCEEDED(r);
}

void AbortVideoEncoder(VideoEncoder* e) { delete e; }
