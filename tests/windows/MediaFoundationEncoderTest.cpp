// The Media Foundation video encoder against a fake sink writer and fake
// encoder registrations (MediaFoundationTesting.h): Wine has no H.264 or AAC
// encoder, so what the encoder asks of the system is checked here instead,
// with the system's own media types and samples. A fault in the stream
// types, the picture's row order or channels, the sound's conversion or the
// sample times would make a file that plays wrongly or not at all on Windows.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <mfapi.h>
// clang-format on

#include <cstdint>
#include <string>
#include <vector>

#include "platform/VideoEncoder.h"
#include "platform/windows/MediaFoundationTesting.h"

namespace {

bool h264There = true;
bool aacThere = true;

bool FakeHasEncoder(const GUID&, const GUID&, const GUID& subtype) {
  return subtype == MFVideoFormat_H264 ? h264There : aacThere;
}

// What the encoder told the sink writer, in order.
struct Stream {
  GUID outputSubtype{}, inputSubtype{};
  UINT64 frameSize = 0, frameRate = 0;
  UINT32 stride = 0, rate = 0, channels = 0, bits = 0;
};
struct Sample {
  DWORD stream;
  LONGLONG time, duration;
  std::vector<uint8_t> bytes;
};
struct Record {
  std::wstring url;
  GUID container{};
  std::vector<Stream> streams;
  std::vector<Sample> samples;
  bool begun = false, finalized = false, released = false, sampleBeforeBegin = false;
} record;

UINT32 Get32(IMFMediaType* type, const GUID& key) {
  UINT32 value = 0;
  type->GetUINT32(key, &value);
  return value;
}

class FakeSinkWriter final : public IMFSinkWriter {
 public:
  virtual ~FakeSinkWriter() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--references_ == 0) {
      record.released = true;
      delete this;
      return 0;
    }
    return references_;
  }
  HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override {
    Stream stream;
    type->GetGUID(MF_MT_SUBTYPE, &stream.outputSubtype);
    type->GetUINT64(MF_MT_FRAME_SIZE, &stream.frameSize);
    type->GetUINT64(MF_MT_FRAME_RATE, &stream.frameRate);
    stream.rate = Get32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND);
    stream.channels = Get32(type, MF_MT_AUDIO_NUM_CHANNELS);
    record.streams.push_back(stream);
    *index = static_cast<DWORD>(record.streams.size() - 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes*) override {
    Stream& stream = record.streams.at(index);
    type->GetGUID(MF_MT_SUBTYPE, &stream.inputSubtype);
    stream.stride = Get32(type, MF_MT_DEFAULT_STRIDE);
    stream.bits = Get32(type, MF_MT_AUDIO_BITS_PER_SAMPLE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    record.begun = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD index, IMFSample* sample) override {
    if (!record.begun) record.sampleBeforeBegin = true;
    Sample s{index, 0, 0, {}};
    sample->GetSampleTime(&s.time);
    sample->GetSampleDuration(&s.duration);
    IMFMediaBuffer* buffer = nullptr;
    if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer))) {
      BYTE* data = nullptr;
      DWORD length = 0;
      buffer->Lock(&data, nullptr, &length);
      s.bytes.assign(data, data + length);
      buffer->Unlock();
      buffer->Release();
    }
    record.samples.push_back(std::move(s));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD, void*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Flush(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Finalize() override {
    record.finalized = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

 private:
  ULONG references_ = 1;
};

HRESULT FakeCreateSinkWriter(const WCHAR* url, IMFByteStream*, IMFAttributes* attributes, IMFSinkWriter** writer) {
  record.url = url;
  attributes->GetGUID(MF_TRANSCODE_CONTAINERTYPE, &record.container);
  *writer = new FakeSinkWriter;
  return S_OK;
}

const MediaFoundationCalls FakeCalls = {FakeHasEncoder, FakeCreateSinkWriter};

class MediaFoundationEncoderTest : public testing::Test {
 protected:
  void SetUp() override {
    record = Record{};
    h264There = aacThere = true;
    ReplaceMediaFoundationCalls(&FakeCalls);
  }
  void TearDown() override { ReplaceMediaFoundationCalls(nullptr); }
};

TEST_F(MediaFoundationEncoderTest, RefusesBeforeAnyWorkWhatTheSystemCannotDo) {
  struct Case {
    bool h264, aac;
    VideoContainer container;
    const char* says;  // null: accepted
  } cases[] = {
      {true, true, VideoContainer::Mp4, nullptr},
      {false, true, VideoContainer::Mp4, "no H.264 encoder"},
      {true, false, VideoContainer::Mp4, "no AAC encoder"},
      {false, false, VideoContainer::Mp4, "no H.264 or AAC encoder"},
      {true, true, VideoContainer::Matroska, "Matroska"},
  };
  for (const Case& c : cases) {
    h264There = c.h264;
    aacThere = c.aac;
    std::string why;
    EXPECT_EQ(CheckVideoEncoding(c.container, why), c.says == nullptr) << why;
    if (c.says) {
      EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
    VideoEncoderSettings settings{"out.mp4", c.container, 4, 2, 30, 0, 0};
    std::string error;
    VideoEncoder* encoder = OpenVideoEncoder(settings, error);
    EXPECT_EQ(encoder != nullptr, c.says == nullptr) << error;
    if (encoder) AbortVideoEncoder(encoder);
  }
  EXPECT_EQ(record.streams.size(), 1u) << "only the accepted case may reach the sink writer (one video stream)";
}

TEST_F(MediaFoundationEncoderTest, PicturesAndSoundReachTheWriterAsItTakesThem) {
  // 2 x 2 pictures at 30 fps; stereo sound at 44100 Hz, a frame's worth each.
  VideoEncoderSettings settings{"Ωmega.mp4", VideoContainer::Mp4, 2, 2, 30, 44100, 2};
  std::string error;
  VideoEncoder* encoder = OpenVideoEncoder(settings, error);
  ASSERT_NE(encoder, nullptr) << error;
  EXPECT_EQ(record.url, L"\u03A9mega.mp4");
  EXPECT_EQ(record.container, MFTranscodeContainerType_MPEG4);
  ASSERT_EQ(record.streams.size(), 2u);
  const Stream& video = record.streams[0];
  EXPECT_EQ(video.outputSubtype, MFVideoFormat_H264);
  EXPECT_EQ(video.inputSubtype, MFVideoFormat_RGB32);
  EXPECT_EQ(video.frameSize, (UINT64{2} << 32) | 2);
  EXPECT_EQ(video.frameRate, (UINT64{30} << 32) | 1);
  EXPECT_EQ(video.stride, 8u) << "rows must be handed top first";
  const Stream& audio = record.streams[1];
  EXPECT_EQ(audio.outputSubtype, MFAudioFormat_AAC);
  EXPECT_EQ(audio.inputSubtype, MFAudioFormat_PCM);
  EXPECT_EQ(audio.rate, 44100u);
  EXPECT_EQ(audio.channels, 2u);
  EXPECT_EQ(audio.bits, 16u);

  // GL's rows, bottom first, RGBA.
  const uint8_t picture[16] = {1, 2, 3, 9, 4, 5, 6, 9,      // bottom row
                               10, 20, 30, 9, 40, 50, 60, 9};  // top row
  std::vector<float> sound(1470 * 2, 0.0f);
  sound[0] = 0.5f, sound[1] = -1.0f, sound[2] = 2.0f;  // the last beyond full scale
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_TRUE(EncodeVideoFrame(encoder, picture, error)) << error;
    ASSERT_TRUE(EncodeAudioSamples(encoder, sound.data(), 1470, error)) << error;
  }
  ASSERT_TRUE(FinishVideoEncoder(encoder, error)) << error;
  EXPECT_TRUE(record.finalized);
  EXPECT_TRUE(record.released);
  EXPECT_FALSE(record.sampleBeforeBegin);

  ASSERT_EQ(record.samples.size(), 6u);
  const std::vector<uint8_t> topFirstBgrx = {30, 20, 10, 255, 60, 50, 40, 255, 3, 2, 1, 255, 6, 5, 4, 255};
  LONGLONG videoEnd = 0, audioEnd = 0;
  for (const Sample& s : record.samples) {
    LONGLONG& end = s.stream == 0 ? videoEnd : audioEnd;
    EXPECT_EQ(s.time, end) << "a gap or an overlap in stream " << s.stream;
    end = s.time + s.duration;
    if (s.stream == 0) {
      EXPECT_EQ(s.bytes, topFirstBgrx);
    }
    if (s.stream == 1) {
      ASSERT_EQ(s.bytes.size(), 1470u * 2 * 2);
      const auto* pcm = reinterpret_cast<const int16_t*>(s.bytes.data());
      EXPECT_EQ(pcm[0], 16383);
      EXPECT_EQ(pcm[1], -32767);
      EXPECT_EQ(pcm[2], 32767);
    }
  }
  // Three frames at 30 fps and 3 x 1470 samples at 44100 Hz: 0.1 s each, to
  // the 100 ns tick.
  EXPECT_EQ(videoEnd, 1000000);
  EXPECT_EQ(audioEnd, 1000000);
}

TEST_F(MediaFoundationEncoderTest, SoundTheAacEncoderCannotTakeIsMixedDownOrRefused) {
  struct Case {
    int rate, channels;
    bool opens;
    UINT32 outputChannels;
  } cases[] = {
      {48000, 6, true, 2},
      {44100, 1, true, 1},
      {22050, 2, false, 0},
  };
  for (const Case& c : cases) {
    record = Record{};
    VideoEncoderSettings settings{"out.mp4", VideoContainer::Mp4, 2, 2, 30, c.rate, c.channels};
    std::string error;
    VideoEncoder* encoder = OpenVideoEncoder(settings, error);
    ASSERT_EQ(encoder != nullptr, c.opens) << c.rate << " Hz: " << error;
    if (!encoder) {
      EXPECT_NE(error.find(std::to_string(c.rate)), std::string::npos) << error;
      EXPECT_TRUE(record.released) << "the writer of a refused encoder is left open";
      continue;
    }
    ASSERT_EQ(record.streams.size(), 2u);
    EXPECT_EQ(record.streams[1].channels, c.outputChannels);
    AbortVideoEncoder(encoder);
    EXPECT_FALSE(record.finalized) << "an aborted file must not be completed";
    EXPECT_TRUE(record.released);
  }
}

}  // namespace
