// The frames of an MPEG audio layer-3 file: header arithmetic and the walk
// over the file (see Mp3Frames.h).
#include "platform/Mp3Frames.h"

#include <cstring>

namespace {

// Kilobits a second by bitrate index 1..14; index 0 (free format) and 15 are
// not taken: a free-format frame's length cannot be known from its header.
constexpr int Mpeg1Layer3Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int Mpeg2Layer3Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr long Mpeg1Rates[3] = {44100, 48000, 32000};

// Where the Xing or Info note of the first frame begins: right after the
// side information, whose size depends on the version and the channel count.
// VBRI notes sit at a fixed place.
size_t XingOffset(const Mp3FrameHeader& h) {
  if (h.mpegVersion == 10) return h.channels == 1 ? 4 + 17 : 4 + 32;
  return h.channels == 1 ? 4 + 9 : 4 + 17;
}
constexpr size_t VbriOffset = 4 + 32;

bool HoldsEncoderNote(const uint8_t* frame, const Mp3FrameHeader& h) {
  const size_t xing = XingOffset(h);
  if (size_t(h.frameBytes) >= xing + 4 &&
      (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
    return true;
  }
  return size_t(h.frameBytes) >= VbriOffset + 4 && std::memcmp(frame + VbriOffset, "VBRI", 4) == 0;
}

bool SameFormat(const Mp3FrameHeader& a, const Mp3FrameHeader& b) {
  return a.mpegVersion == b.mpegVersion && a.sampleRate == b.sampleRate && a.channels == b.channels;
}

// A header at pos whose frame fits in the data.
bool FrameAt(const uint8_t* data, size_t size, size_t pos, Mp3FrameHeader& h) {
  return size - pos >= 4 && ParseMp3FrameHeader(data + pos, h) && size_t(h.frameBytes) <= size - pos;
}

// A frame at pos that is followed by a frame of the same format, or that ends
// exactly where the data do: the test for where audio starts after junk.
bool ConfirmedFrameAt(const uint8_t* data, size_t size, size_t pos, Mp3FrameHeader& h) {
  if (!FrameAt(data, size, pos, h)) return false;
  const size_t next = pos + size_t(h.frameBytes);
  if (next == size) return true;
  Mp3FrameHeader following;
  return FrameAt(data, size, next, following) && SameFormat(h, following);
}

}  // namespace

bool ParseMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& header) {
  const uint32_t h = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  if ((h >> 21) != 0x7FF) return false;
  const unsigned versionBits = (h >> 19) & 3;
  const unsigned layerBits = (h >> 17) & 3;
  const unsigned bitrateIndex = (h >> 12) & 15;
  const unsigned rateIndex = (h >> 10) & 3;
  const unsigned padding = (h >> 9) & 1;
  const unsigned channelMode = (h >> 6) & 3;
  const unsigned emphasis = h & 3;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3 || emphasis == 2) {
    return false;
  }
  Mp3FrameHeader out;
  out.mpegVersion = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
  const bool mpeg1 = out.mpegVersion == 10;
  out.bitrateKbps = mpeg1 ? Mpeg1Layer3Kbps[bitrateIndex] : Mpeg2Layer3Kbps[bitrateIndex];
  out.sampleRate = Mpeg1Rates[rateIndex] / (mpeg1 ? 1 : out.mpegVersion == 20 ? 2 : 4);
  out.channels = channelMode == 3 ? 1 : 2;
  out.samplesPerFrame = mpeg1 ? 1152 : 576;
  // Bytes = samples / 8 * bits per second / rate; one more for a padded frame.
  out.frameBytes = int((out.samplesPerFrame / 8) * out.bitrateKbps * 1000L / out.sampleRate + padding);
  header = out;
  return true;
}

size_t Id3v2TagBytes(const uint8_t* data, size_t size) {
  size_t pos = 0;
  // Some files carry more than one tag in a row.
  while (size - pos >= 10 && std::memcmp(data + pos, "ID3", 3) == 0) {
    const uint8_t* s = data + pos + 6;
    if ((s[0] | s[1] | s[2] | s[3]) & 0x80) break;  // sizes are 7 bits a byte
    size_t tag = 10 + (size_t(s[0]) << 21 | size_t(s[1]) << 14 | size_t(s[2]) << 7 | s[3]);
    if (data[pos + 5] & 0x10) tag += 10;  // a footer follows
    if (tag > size - pos) return size;
    pos += tag;
  }
  return pos;
}

bool FindMp3Frames(const uint8_t* data, size_t size, Mp3Frames& result, std::string& error) {
  result = Mp3Frames{};
  if (!data) size = 0;
  size_t pos = Id3v2TagBytes(data, size);
  bool inSync = false;  // the previous frame ended where this position is
  bool first = true;
  while (pos < size) {
    Mp3FrameHeader h;
    const bool found = inSync ? FrameAt(data, size, pos, h) : ConfirmedFrameAt(data, size, pos, h);
    if (!found) {
      inSync = false;
      ++pos;
      continue;
    }
    inSync = true;
    const size_t at = pos;
    pos += size_t(h.frameBytes);
    if (first) {
      first = false;
      result.format = h;
      if (HoldsEncoderNote(data + at, h)) continue;
    } else if (!SameFormat(h, result.format)) {
      continue;
    }
    result.frames.push_back(Mp3FrameSpan{at, size_t(h.frameBytes)});
    result.samplesPerChannel += uint64_t(h.samplesPerFrame);
  }
  if (result.frames.empty()) {
    error = first ? "no MPEG layer-3 audio frames" : "no audio frames after the encoder's header";
    result = Mp3Frames{};
    return false;
  }
  return true;
}
