// mp3 decoding through the Audio Compression Manager's MPEG layer-3 codec.
//
// Links: msacm32.
//
// The codec is opened for the format of the file's first audio frame and fed
// the audio frames alone, laid end to end: tags, junk and frames of another
// format never reach it (see Mp3Frames.h). It is driven in the plain way:
// one prepared stream header with a source buffer of whole frames and a
// destination buffer the size acmStreamSize asks for, acmStreamConvert in a
// loop, the codec told where the stream starts and, with an empty source,
// where it ends so that it gives up what it still holds.
//
// Limits: layer 3 only (the codec knows no other layer); the codec adds its
// own decoder delay at the start (about 529 samples for the usual codecs) and
// knows nothing of an encoder's gapless notes, so the decoded audio may be a
// few tens of milliseconds longer than the music.
#include "platform/windows/AudioAcmMp3.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <new>

struct AcmMp3Decoder {
  std::vector<uint8_t> audio;  // the audio frames, end to end
  std::vector<size_t> starts;  // where each frame starts in audio
  Mp3Frames frames;
  MPEGLAYER3WAVEFORMAT source{};
  WAVEFORMATEX pcm{};
  HACMSTREAM stream = nullptr;
  ACMSTREAMHEADER header{};
  bool prepared = false;
  std::vector<uint8_t> sourceBuffer;
  std::vector<uint8_t> pcmBuffer;
  size_t fed = 0;           // bytes of audio moved into the source buffer
  size_t sourceFill = 0;    // bytes in the source buffer not yet taken
  size_t pcmPos = 0;        // decoded bytes handed out so far
  size_t pcmFill = 0;       // decoded bytes in the buffer
  bool started = false;
  bool ended = false;
  std::string failure;
  double announcedSeconds = -1.0;
};

namespace {

// Frames per conversion: enough for the codec to work in long strides, few
// enough that a call returns within a few milliseconds.
constexpr size_t FramesPerConversion = 16;
// The most one layer-3 frame can take: 320 kbit/s at 32 kHz, padded.
constexpr size_t LargestFrameBytes = 1441;

void CloseCodec(AcmMp3Decoder& d) {
  if (d.prepared) acmStreamUnprepareHeader(d.stream, &d.header, 0);
  if (d.stream) acmStreamClose(d.stream, 0);
  d.prepared = false;
  d.stream = nullptr;
}

bool OpenCodec(AcmMp3Decoder& d, std::string& why) {
  CloseCodec(d);
  MMRESULT result = acmStreamOpen(&d.stream, nullptr, &d.source.wfx, &d.pcm, nullptr, 0, 0, 0);
  if (result != MMSYSERR_NOERROR) {
    d.stream = nullptr;
    why = "no MPEG layer-3 codec for " + std::to_string(d.pcm.nSamplesPerSec) + " Hz, " +
          std::to_string(d.pcm.nChannels) + " channel(s) (ACM error " + std::to_string(result) + ")";
    return false;
  }
  DWORD pcmBytes = 0;
  if (acmStreamSize(d.stream, DWORD(d.sourceBuffer.size()), &pcmBytes, ACM_STREAMSIZEF_SOURCE) !=
      MMSYSERR_NOERROR) {
    pcmBytes = 0;
  }
  // Never less than the frames of a full source buffer decode to, twice over:
  // a codec that underestimates would otherwise take less than it is given.
  const size_t atLeast = FramesPerConversion * 2 * size_t(d.frames.format.samplesPerFrame) *
                         size_t(d.pcm.nBlockAlign);
  d.pcmBuffer.assign(std::max<size_t>(pcmBytes, atLeast), 0);
  d.header = ACMSTREAMHEADER{};
  d.header.cbStruct = sizeof d.header;
  d.header.pbSrc = d.sourceBuffer.data();
  d.header.cbSrcLength = DWORD(d.sourceBuffer.size());
  d.header.pbDst = d.pcmBuffer.data();
  d.header.cbDstLength = DWORD(d.pcmBuffer.size());
  result = acmStreamPrepareHeader(d.stream, &d.header, 0);
  if (result != MMSYSERR_NOERROR) {
    why = "the MPEG layer-3 codec refuses its buffers (ACM error " + std::to_string(result) + ")";
    CloseCodec(d);
    return false;
  }
  d.prepared = true;
  d.fed = d.sourceFill = d.pcmPos = d.pcmFill = 0;
  d.started = d.ended = false;
  d.failure.clear();
  return true;
}

// One conversion: tops the source buffer up with whole frames, converts, and
// leaves what came out in the PCM buffer. False once nothing more will come.
bool Convert(AcmMp3Decoder& d) {
  if (d.ended) return false;
  // The codec leaves what it did not take at the front of the buffer.
  const size_t room = d.sourceBuffer.size() - d.sourceFill;
  const size_t more = std::min(room, d.audio.size() - d.fed);
  std::memcpy(d.sourceBuffer.data() + d.sourceFill, d.audio.data() + d.fed, more);
  d.fed += more;
  d.sourceFill += more;
  const bool last = d.fed == d.audio.size();

  DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN;
  if (!d.started) flags |= ACM_STREAMCONVERTF_START;
  if (last) flags |= ACM_STREAMCONVERTF_END;
  d.header.cbSrcLength = DWORD(d.sourceFill);
  d.header.cbSrcLengthUsed = 0;
  d.header.cbDstLengthUsed = 0;
  const MMRESULT result = acmStreamConvert(d.stream, &d.header, flags);
  if (result != MMSYSERR_NOERROR) {
    d.failure = "the MPEG layer-3 codec stopped (ACM error " + std::to_string(result) + ")";
    d.ended = true;
    return false;
  }
  d.started = true;
  const size_t used = std::min<size_t>(d.header.cbSrcLengthUsed, d.sourceFill);
  std::memmove(d.sourceBuffer.data(), d.sourceBuffer.data() + used, d.sourceFill - used);
  d.sourceFill -= used;
  d.pcmPos = 0;
  d.pcmFill = std::min<size_t>(d.header.cbDstLengthUsed, d.pcmBuffer.size());
  d.pcmFill -= d.pcmFill % d.pcm.nBlockAlign;
  if (d.pcmFill == 0 && (last || used == 0)) {
    // Nothing came out of the last call, or the codec takes nothing more of
    // a full buffer: that is the end, whatever is left over.
    d.ended = true;
    return false;
  }
  return true;
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The frame count of the encoder's notes between the tags and the first
// audio frame, in seconds; -1 when there are none or they give no count.
double AnnouncedSeconds(const std::vector<uint8_t>& file, const Mp3Frames& frames) {
  if (frames.frames.empty() || frames.format.sampleRate <= 0) return -1.0;
  const size_t from = Id3v2TagBytes(file.data(), file.size());
  const size_t to = std::min<size_t>(frames.frames.front().offset, file.size());
  uint32_t count = 0;
  for (size_t at = from; at + 18 <= to && count == 0; ++at) {
    const uint8_t* p = file.data() + at;
    if (std::memcmp(p, "Xing", 4) == 0 || std::memcmp(p, "Info", 4) == 0) {
      if (at + 12 <= to && (BigEndian32(p + 4) & 1)) count = BigEndian32(p + 8);
      if (count == 0) return -1.0;
    } else if (std::memcmp(p, "VBRI", 4) == 0) {
      count = BigEndian32(p + 14);
      if (count == 0) return -1.0;
    }
  }
  if (count == 0) return -1.0;
  return double(count) * double(frames.format.samplesPerFrame) / double(frames.format.sampleRate);
}

}  // namespace

AcmMp3Decoder* OpenAcmMp3Decoder(std::vector<uint8_t> file, std::string& why) {
  auto* d = new (std::nothrow) AcmMp3Decoder;
  if (!d) {
    why = "out of memory";
    return nullptr;
  }
  if (!FindMp3Frames(file.data(), file.size(), d->frames, why)) {
    delete d;
    return nullptr;
  }
  d->announcedSeconds = AnnouncedSeconds(file, d->frames);
  size_t total = 0;
  for (const Mp3FrameSpan& f : d->frames.frames) total += f.bytes;
  try {
    d->audio.reserve(total);
    d->starts.reserve(d->frames.frames.size());
    for (const Mp3FrameSpan& f : d->frames.frames) {
      d->starts.push_back(d->audio.size());
      d->audio.insert(d->audio.end(), file.begin() + f.offset, file.begin() + f.offset + f.bytes);
    }
    d->sourceBuffer.assign(FramesPerConversion * LargestFrameBytes, 0);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
    delete d;
    return nullptr;
  }
  const Mp3FrameHeader& format = d->frames.format;
  WAVEFORMATEX& wfx = d->source.wfx;
  wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  wfx.nChannels = WORD(format.channels);
  wfx.nSamplesPerSec = DWORD(format.sampleRate);
  wfx.nAvgBytesPerSec = DWORD(format.bitrateKbps * 1000 / 8);
  wfx.nBlockAlign = 1;
  wfx.wBitsPerSample = 0;
  wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  d->source.wID = MPEGLAYER3_ID_MPEG;
  d->source.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
  d->source.nBlockSize = WORD(format.frameBytes);
  d->source.nFramesPerBlock = 1;
  d->source.nCodecDelay = 0;  // not known from the frames

  d->pcm.wFormatTag = WAVE_FORMAT_PCM;
  d->pcm.nChannels = WORD(format.channels);
  d->pcm.nSamplesPerSec = DWORD(format.sampleRate);
  d->pcm.wBitsPerSample = 16;
  d->pcm.nBlockAlign = WORD(format.channels * 2);
  d->pcm.nAvgBytesPerSec = d->pcm.nSamplesPerSec * d->pcm.nBlockAlign;
  d->pcm.cbSize = 0;
  if (!OpenCodec(*d, why)) {
    delete d;
    return nullptr;
  }
  return d;
}

long AcmMp3Rate(const AcmMp3Decoder* decoder) { return decoder ? decoder->frames.format.sampleRate : 0; }
int AcmMp3Channels(const AcmMp3Decoder* decoder) { return decoder ? decoder->frames.format.channels : 0; }
double AcmMp3FramesSeconds(const AcmMp3Decoder* decoder) { return decoder ? decoder->frames.Seconds() : 0.0; }
double AcmMp3AnnouncedSeconds(const AcmMp3Decoder* decoder) { return decoder ? decoder->announcedSeconds : -1.0; }

size_t DecodeAcmMp3(AcmMp3Decoder* decoder, uint8_t* out, size_t capacity) {
  if (!decoder || !decoder->stream) return 0;
  AcmMp3Decoder& d = *decoder;
  capacity -= capacity % d.pcm.nBlockAlign;
  size_t done = 0;
  while (done < capacity) {
    if (d.pcmPos < d.pcmFill) {
      const size_t n = std::min(capacity - done, d.pcmFill - d.pcmPos);
      std::memcpy(out + done, d.pcmBuffer.data() + d.pcmPos, n);
      d.pcmPos += n;
      done += n;
      continue;
    }
    if (!Convert(d)) break;
  }
  return done;
}

const std::string& AcmMp3Failure(const AcmMp3Decoder* decoder) {
  static const std::string none;
  return decoder ? decoder->failure : none;
}

bool RewindAcmMp3Decoder(AcmMp3Decoder* decoder) {
  if (!decoder) return false;
  // A fresh codec forgets the previous stream's overlap and reservoir.
  std::string why;
  if (!OpenCodec(*decoder, why)) {
    decoder->failure = why;
    decoder->ended = true;
    return false;
  }
  return true;
}

bool PlaceAcmMp3Decoder(AcmMp3Decoder* decoder, uint64_t target, uint64_t& at) {
  at = 0;
  if (!RewindAcmMp3Decoder(decoder)) return false;
  AcmMp3Decoder& d = *decoder;
  const uint64_t perFrame = uint64_t(std::max(d.frames.format.samplesPerFrame, 1));
  // A layer-3 frame's data may begin up to 511 bytes back, in the frames
  // before it, and its samples overlap the previous frame's: four frames
  // before it are enough for both.
  constexpr uint64_t Lead = 4;
  const uint64_t frame = target / perFrame;
  if (frame <= Lead || d.starts.empty()) return true;
  const size_t from = size_t(std::min<uint64_t>(frame - Lead, d.starts.size() - 1));
  d.fed = d.starts[from];
  at = uint64_t(from) * perFrame;
  return true;
}

void CloseAcmMp3Decoder(AcmMp3Decoder* decoder) {
  if (!decoder) return;
  CloseCodec(*decoder);
  delete decoder;
}
