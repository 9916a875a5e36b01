// demotool beats: the tempo and the beats of a piece of music, on the
// timeline's rows, and the tempo line for the show's track text.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "beats/Beats.h"
#include "Commands.h"
#include "platform/Files.h"
#include "platform/MusicProbe.h"
#include "sync/MusicClock.h"

namespace {

const char* const BeatsUsage =
    "usage: demotool beats MUSIC.mp3 [--write FILE]\n"
    "\n"
    "Finds the music's tempo and beats and prints them: first the line\n"
    "  tempo BPM at TIME      the tempo, and the time of the first beat in seconds\n"
    "then one line per beat to the end of the music:\n"
    "  beat SECONDS rROW      the beat's time, and the row it falls on\n"
    "\n"
    "  --write FILE   put the tempo line into the track text FILE: it replaces\n"
    "                 the text's tempo line, or goes after the comments that\n"
    "                 open it; every other line stays as it is\n"
    "\n"
    "exit status: 0 found, 1 music that cannot be decoded or has no beat to\n"
    "find, 2 bad arguments or files that cannot be read or written\n";

constexpr int ExitFindings = 1;
constexpr int ExitUsage = 2;

// Longer than any show's music: a file that decodes to more is not one, and
// its samples would not fit in memory anyway (an hour of mono float is 635 MB).
constexpr double LongestMusicSeconds = 3600.0;

void Fail(const std::string& message) { std::fprintf(stderr, "demotool: beats: %s\n", message.c_str()); }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The whole file decoded and mixed to one channel. False with the exit
// status when it cannot be.
bool DecodeMono(const char* path, std::vector<float>& mono, long& rate, int& status) {
  std::error_code ec;
  if (std::filesystem::is_directory(FileSystemPath(NativeDataPath(path)), ec)) {
    Fail(Quoted(path) + " is a folder, not a music file");
    status = ExitUsage;
    return false;
  }
  std::FILE* probe = OpenDataFile(path, "rb");
  if (!probe) {
    Fail("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    status = ExitUsage;
    return false;
  }
  std::fclose(probe);
  status = ExitFindings;
  MusicFileInfo info;
  std::string error;
  // The probe's reasons are the ones `demotool check` gives for the same file.
  if (!ProbeMusicFile(path, info, error)) {
    Fail(Quoted(path) + ": " + error);
    return false;
  }
  if (info.seconds > LongestMusicSeconds) {
    Fail(Quoted(path) + ": " + std::to_string(static_cast<long>(info.seconds)) + " seconds of music is longer than any show");
    return false;
  }
  MusicDecoder* decoder = OpenMusicDecoder(path, info, error);
  if (!decoder) {
    Fail(Quoted(path) + ": " + error);
    return false;
  }
  rate = info.rate;
  const int channels = info.channels;
  std::vector<float> chunk(static_cast<std::size_t>(4096) * channels);
  for (;;) {
    const long frames = ReadMusicSamples(decoder, chunk.data(), 4096);
    for (long f = 0; f < frames; ++f) {
      float sum = 0.0f;
      for (int c = 0; c < channels; ++c) sum += chunk[static_cast<std::size_t>(f) * channels + c];
      mono.push_back(sum / static_cast<float>(channels));
    }
    if (frames < 4096) break;
  }
  CloseMusicDecoder(decoder);
  return true;
}

// The track text to write the tempo line into, read before the music is
// analysed so that a wrong name costs no waiting.
bool ReadTrackText(const std::string& path, std::string& text) {
  std::vector<unsigned char> bytes;
  switch (ReadDataFile(path.c_str(), bytes, 64u << 20)) {
    case FileRead::Ok: break;
    case FileRead::CannotOpen: Fail("cannot open " + Quoted(path) + ": " + std::strerror(errno)); return false;
    case FileRead::ReadError: Fail("cannot read " + Quoted(path)); return false;
    case FileRead::TooLarge: Fail(Quoted(path) + " is too large to be track text"); return false;
  }
  text.assign(bytes.begin(), bytes.end());
  if (text.find('\0') != std::string::npos) {
    Fail(Quoted(path) + " is not track text (it holds NUL bytes); not changed");
    return false;
  }
  return true;
}

// Through a temporary file renamed over the text, so that a failure leaves
// the text as it was. A link is followed, so that it stays a link to the text.
bool WriteTrackText(const std::string& path, const std::string& text) {
  std::error_code ec;
  const std::filesystem::path target =
      std::filesystem::is_symlink(path, ec) ? std::filesystem::canonical(path, ec) : std::filesystem::path(path);
  if (ec) {
    Fail("cannot follow the link " + Quoted(path) + ": " + ec.message());
    return false;
  }
  const std::filesystem::perms perms = std::filesystem::status(target, ec).permissions();
  std::string error;
  PendingFile file;
  if (!CreatePendingFile(target.string(), file, error)) {
    Fail(error);
    return false;
  }
  std::FILE* out = OpenFile(file.tempPath, "wb");
  bool ok = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    DiscardPendingFile(file);
    Fail("cannot write " + Quoted(path));
    return false;
  }
  // The text keeps its permissions, not those of a new file.
  if (!ec && !file.inPlace) std::filesystem::permissions(file.tempPath, perms, ec);
  if (!CommitPendingFile(file, error)) {
    Fail(error);
    return false;
  }
  return true;
}

}  // namespace

int RunBeatsCommand(int argc, char** argv) {
  const char* music = nullptr;
  const char* writePath = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(BeatsUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--write")) {
      if (i + 1 >= argc) {
        Fail("--write needs a file name");
        return ExitUsage;
      }
      writePath = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      Fail("unknown option " + Quoted(argv[i]) + "\n\n" + BeatsUsage);
      return ExitUsage;
    } else if (!music) {
      music = argv[i];
    } else {
      Fail("unexpected argument " + Quoted(argv[i]));
      return ExitUsage;
    }
  }
  if (!music) {
    std::fputs(BeatsUsage, stderr);
    return ExitUsage;
  }

  std::string text;
  if (writePath && !ReadTrackText(writePath, text)) return ExitUsage;

  std::vector<float> mono;
  long rate = 0;
  int status = 0;
  if (!DecodeMono(music, mono, rate, status)) return status;
  BeatGrid grid;
  std::string error;
  if (!FindBeats(mono.data(), mono.size(), rate, grid, error)) {
    Fail(Quoted(music) + ": " + error);
    return ExitFindings;
  }

  char tempoLine[64];
  std::snprintf(tempoLine, sizeof tempoLine, "tempo %.2f at %.3f", grid.bpm, grid.firstBeat);
  std::printf("%s\n", tempoLine);
  const double seconds = static_cast<double>(mono.size()) / static_cast<double>(rate);
  for (double t : BeatTimes(grid, seconds)) {
    // The row of the time as printed, so that the two columns agree.
    const double ms = std::round(t * 1000.0);
    std::printf("beat %.3f r%.2f\n", ms / 1000.0, ms / 1000.0 * RowsPerSecond);
  }
  if (std::fflush(stdout) != 0) return ExitUsage;

  if (writePath) {
    const std::string changed = SetTempoLine(text, tempoLine);
    if (changed == text) {
      std::fprintf(stderr, "demotool: beats: %s already holds '%s'\n", writePath, tempoLine);
    } else {
      if (!WriteTrackText(writePath, changed)) return ExitUsage;
      std::fprintf(stderr, "demotool: beats: wrote '%s' into %s\n", tempoLine, writePath);
    }
  }
  return 0;
}
