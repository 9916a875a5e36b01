// The mp3 frame walk that feeds the Windows codec: header arithmetic on
// hand-made frames, the walk over tags, junk and odd frames, and real files
// from lame whose length and format must agree with mpg123's decoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/MusicProbe.h"
#include "platform/Mp3Frames.h"
#include "platform/PictureFixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Header fields as the bits of the frame header hold them.
struct HeaderBits {
  unsigned version = 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
  unsigned layer = 1;    // 1 layer 3
  unsigned bitrate = 9;  // index
  unsigned rate = 0;     // index
  unsigned padding = 0;
  unsigned mode = 1;     // 3 mono
  unsigned emphasis = 0;
};

Bytes Header(const HeaderBits& b) {
  const uint32_t h = 0xFFE00000u | b.version << 19 | b.layer << 17 | 1u << 16 | b.bitrate << 12 |
                     b.rate << 10 | b.padding << 9 | b.mode << 6 | b.emphasis;
  return {uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h)};
}

// A whole frame: the header, then payload bytes of `fill` (never sync bits).
Bytes Frame(const HeaderBits& b, uint8_t fill = 0x55) {
  Bytes frame = Header(b);
  Mp3FrameHeader h;
  if (!ParseMp3FrameHeader(frame.data(), h)) return {};
  frame.resize(size_t(h.frameBytes), fill);
  return frame;
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

TEST(Mp3Frames, HeadersGiveFormatAndLength) {
  struct Case {
    const char* name;
    HeaderBits bits;
    bool valid;
    int version = 0, kbps = 0;
    long rate = 0;
    int channels = 0, bytes = 0, samples = 0;
  };
  const Case cases[] = {
      {"MPEG-1 128 kbit/s 44.1 kHz", {3, 1, 9, 0, 0, 1}, true, 10, 128, 44100, 2, 417, 1152},
      {"padded", {3, 1, 9, 0, 1, 1}, true, 10, 128, 44100, 2, 418, 1152},
      {"MPEG-1 320 kbit/s 32 kHz mono", {3, 1, 14, 2, 1, 3}, true, 10, 320, 32000, 1, 1441, 1152},
      {"MPEG-1 32 kbit/s 48 kHz", {3, 1, 1, 1, 0, 0}, true, 10, 32, 48000, 2, 96, 1152},
      {"MPEG-2 64 kbit/s 22.05 kHz mono", {2, 1, 8, 0, 0, 3}, true, 20, 64, 22050, 1, 208, 576},
      {"MPEG-2.5 8 kbit/s 8 kHz", {0, 1, 1, 2, 0, 0}, true, 25, 8, 8000, 2, 72, 576},
      {"MPEG-2.5 160 kbit/s 12 kHz", {0, 1, 14, 1, 0, 0}, true, 25, 160, 12000, 2, 960, 576},
      {"reserved version", {1, 1, 9, 0, 0, 1}, false},
      {"layer 2", {3, 2, 9, 0, 0, 1}, false},
      {"layer 1", {3, 3, 9, 0, 0, 1}, false},
      {"free-format bitrate", {3, 1, 0, 0, 0, 1}, false},
      {"bitrate index 15", {3, 1, 15, 0, 0, 1}, false},
      {"reserved rate", {3, 1, 9, 3, 0, 1}, false},
      {"reserved emphasis", {3, 1, 9, 0, 0, 1, 2}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Mp3FrameHeader h;
    ASSERT_EQ(ParseMp3FrameHeader(Header(c.bits).data(), h), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(h.mpegVersion, c.version);
    EXPECT_EQ(h.bitrateKbps, c.kbps);
    EXPECT_EQ(h.sampleRate, c.rate);
    EXPECT_EQ(h.channels, c.channels);
    EXPECT_EQ(h.frameBytes, c.bytes);
    EXPECT_EQ(h.samplesPerFrame, c.samples);
  }
  const uint8_t noSync[4] = {0xFF, 0x0B, 0x90, 0x40};
  Mp3FrameHeader h;
  EXPECT_FALSE(ParseMp3FrameHeader(noSync, h));
}

// An ID3v2 tag of the given body size, its body holding a frame header to
// tempt a walk that does not skip tags.
Bytes Id3v2(size_t body, bool footer = false) {
  Bytes tag = {'I', 'D', '3', 4, 0, uint8_t(footer ? 0x10 : 0), uint8_t(body >> 21 & 0x7F),
               uint8_t(body >> 14 & 0x7F), uint8_t(body >> 7 & 0x7F), uint8_t(body & 0x7F)};
  Bytes content(body + (footer ? 10 : 0), 0x20);
  const Bytes lure = Frame(HeaderBits{});
  for (size_t i = 0; i < 4 && i < body; ++i) content[i] = lure[i];
  Append(tag, content);
  return tag;
}

TEST(Mp3Frames, WalkKeepsTheAudioFramesOfOneFormat) {
  const HeaderBits plain;
  HeaderBits padded = plain;
  padded.padding = 1;
  HeaderBits otherRate = plain;
  otherRate.rate = 1;
  HeaderBits mono = plain;
  mono.mode = 3;
  const Bytes a = Frame(plain), b = Frame(padded);
  Bytes xing = Frame(plain, 0);
  std::memcpy(&xing[4 + 32], "Info", 4);
  Bytes idv1(128, 0x41);
  std::memcpy(idv1.data(), "TAG", 3);

  struct Case {
    const char* name;
    Bytes file;
    std::vector<size_t> offsets;  // where the kept frames start
  };
  std::vector<Case> cases;
  {
    Case c{"tags before and after", Id3v2(300), {}};
    for (int i = 0; i < 3; ++i) {
      c.offsets.push_back(c.file.size());
      Append(c.file, i == 1 ? b : a);
    }
    Append(c.file, idv1);
    cases.push_back(c);
  }
  {
    Case c{"two tags, the first with a footer", Id3v2(40, true), {}};
    Append(c.file, Id3v2(12));
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    cases.push_back(c);
  }
  {
    // Junk holding a lone header between frames: the walk resumes at the
    // next pair of frames, not at the lure.
    Case c{"junk with a lone header", {}, {0, a.size()}};
    Append(c.file, a);
    Append(c.file, a);
    Bytes junk(50, 0x00);
    const Bytes lure = Header(plain);
    std::copy(lure.begin(), lure.end(), junk.begin() + 10);
    Append(c.file, junk);
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    cases.push_back(c);
  }
  {
    Case c{"encoder's note first", xing, {}};
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    cases.push_back(c);
  }
  {
    // Once in step, frames of another rate or channel count are stepped
    // over and left out.
    Case c{"frames of another rate or channel count left out", {}, {0, a.size()}};
    Append(c.file, a);
    Append(c.file, a);
    Append(c.file, Frame(otherRate));
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    Append(c.file, Frame(mono));
    c.offsets.push_back(c.file.size());
    Append(c.file, a);
    cases.push_back(c);
  }
  {
    Case c{"a last frame cut short", {}, {0, a.size()}};
    Append(c.file, a);
    Append(c.file, a);
    Append(c.file, Bytes(a.begin(), a.begin() + 100));
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Mp3Frames frames;
    std::string error;
    ASSERT_TRUE(FindMp3Frames(c.file.data(), c.file.size(), frames, error)) << error;
    std::vector<size_t> offsets;
    for (const Mp3FrameSpan& f : frames.frames) offsets.push_back(f.offset);
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(frames.format.sampleRate, 44100);
    EXPECT_EQ(frames.samplesPerChannel, 1152u * c.offsets.size());
  }
}

TEST(Mp3Frames, FilesWithoutAudioFramesAreRefused) {
  const Bytes a = Frame(HeaderBits{});
  Bytes xingOnly = Frame(HeaderBits{}, 0);
  std::memcpy(&xingOnly[4 + 32], "Xing", 4);
  Bytes png = fixtures::MakePng(4, 4, fixtures::Noise(64, 3));
  const Bytes tag = Id3v2(100);
  const std::pair<const char*, Bytes> cases[] = {
      {"empty", {}},
      {"a tag alone", Id3v2(100)},
      {"a tag claiming more than the file", Bytes(tag.begin(), tag.begin() + 50)},
      {"a PNG", png},
      {"a header with no frame after it", Bytes(a.begin(), a.begin() + 40)},
      {"the encoder's note alone, then noise", [&] {
         Bytes b = xingOnly;
         Append(b, fixtures::Noise(3000, 9));
         return b;
       }()},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    Mp3Frames frames;
    std::string error;
    EXPECT_FALSE(FindMp3Frames(bytes.data(), bytes.size(), frames, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(frames.frames.empty());
  }
}

std::string ReadAll(const std::string& path, Bytes& bytes) {
  bytes.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "cannot open " + path;
  uint8_t chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  return {};
}

TEST(Mp3Frames, LameFilesAgreeWithTheMp3Decoder) {
  // MPEG-1, MPEG-2 and MPEG-2.5 rates, mono and stereo, as lame writes them
  // (with its Info frame first); mpg123 decodes them for the reference.
  const struct {
    int rate, channels;
  } formats[] = {{44100, 2}, {32000, 1}, {22050, 1}, {8000, 2}};
  fixtures::TempDir dir;
  for (const auto& format : formats) {
    const std::string name = std::to_string(format.rate) + "x" + std::to_string(format.channels);
    SCOPED_TRACE(name);
    const std::string wav = dir.File(name + ".wav"), mp3 = dir.File(name + ".mp3");
    const std::string command = "sox -n -r " + std::to_string(format.rate) + " -c " +
                                std::to_string(format.channels) + " -b 16 '" + wav +
                                "' synth 1.3 sine 440 vol 0.5 && lame --quiet '" + wav + "' '" + mp3 + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    Bytes file;
    ASSERT_EQ(ReadAll(mp3, file), "");
    Mp3Frames frames;
    std::string error;
    ASSERT_TRUE(FindMp3Frames(file.data(), file.size(), frames, error)) << error;
    MusicFileInfo decoded;
    ASSERT_TRUE(ProbeMusicFile(mp3.c_str(), decoded, error)) << error;
    EXPECT_EQ(frames.format.sampleRate, decoded.rate);
    EXPECT_EQ(frames.format.channels, decoded.channels);
    // mpg123 drops the encoder's delay (1105 samples from lame) and its
    // padding of the last frame (less than 1152 samples).
    EXPECT_GE(frames.Seconds(), decoded.seconds);
    EXPECT_LE(frames.Seconds(), decoded.seconds + (1105.0 + 1152.0) / frames.format.sampleRate);
    // Every kept frame lies where the previous one ended, past the Info frame.
    for (size_t i = 1; i < frames.frames.size(); ++i) {
      ASSERT_EQ(frames.frames[i].offset, frames.frames[i - 1].offset + frames.frames[i - 1].bytes);
    }
  }
}

}  // namespace
