// The frames of an MPEG audio layer-3 file, found without decoding them.
//
// Decoders that take whole frames of a fixed format (the Audio Compression
// Manager's MPEG layer-3 codec) need the audio frames cut out of the file:
// ID3v2 tags at the front, ID3v1 and APE tags at the back and any damaged
// bytes in between are no frames, and a codec opened for one sample rate and
// channel count cannot take frames of another. This walks the file frame by
// frame, as far as a decoder would, and keeps the frames of the first frame's
// format. Portable: plain arithmetic on bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One frame header, decoded.
struct Mp3FrameHeader {
  int mpegVersion = 0;     // 10 MPEG-1, 20 MPEG-2, 25 MPEG-2.5
  int bitrateKbps = 0;
  long sampleRate = 0;
  int channels = 0;        // 1 mono, 2 any stereo mode
  int frameBytes = 0;      // header included
  int samplesPerFrame = 0; // per channel
};

// Decodes the 4 bytes at p as a layer-3 frame header. False for anything else:
// no sync, a reserved version, rate or emphasis, another layer, a free-format
// or invalid bitrate.
bool ParseMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& header);

struct Mp3FrameSpan {
  size_t offset = 0;
  size_t bytes = 0;
};

struct Mp3Frames {
  Mp3FrameHeader format;               // the first audio frame's header
  std::vector<Mp3FrameSpan> frames;    // audio frames in file order, format's rate and channels
  uint64_t samplesPerChannel = 0;      // what the frames hold in all

  double Seconds() const {
    return format.sampleRate > 0 ? double(samplesPerChannel) / double(format.sampleRate) : 0.0;
  }
};

// Finds the audio frames of the file's bytes. The first frame is taken only
// where the next one follows it (or the data end), so that stray sync bits in
// a tag or in junk are not mistaken for audio; after a damaged stretch the
// walk looks for the next such pair. A leading Xing, Info or VBRI frame holds
// the encoder's notes, not music, and is left out. Frames whose rate or
// channel count differ from the first frame's are left out; a frame cut short
// by the end of the data is left out. False with the reason in error when no
// audio frame is found.
bool FindMp3Frames(const uint8_t* data, size_t size, Mp3Frames& result, std::string& error);

// The number of bytes of ID3v2 tags at the start of data (0 when there is none).
size_t Id3v2TagBytes(const uint8_t* data, size_t size);
