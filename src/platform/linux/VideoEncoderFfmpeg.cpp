// Video encoding service on FFmpeg's libraries: libswscale turns the RGBA
// pictures into 4:2:0 BT.709 video-range YUV, libavcodec encodes them with
// x264 and the sound with FFmpeg's own AAC encoder (after libswresample has
// made planar float of it at a rate AAC knows), libavformat interleaves both.
//
// What it cannot do:
// - Odd sizes: 4:2:0 needs even widths and heights; they are refused.
// - Rates AAC has no table for are resampled to 48000 Hz.
#include "platform/VideoEncoder.h"
#include "platform/VideoEncoderTesting.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

namespace {

// FFmpeg's libraries are opened when the first encoder is, not with the
// program: linked in, they and the hundred codec libraries behind them were
// loaded at every start of the demo, a tenth of a second before main on a
// virtual machine, for a feature most runs never use. Each function used is
// named once here, with the library that holds it.
#define DEMO_FFMPEG_FUNCTIONS(X) \
  X(Avutil, av_audio_fifo_alloc) \
  X(Avutil, av_audio_fifo_free) \
  X(Avutil, av_audio_fifo_read) \
  X(Avutil, av_audio_fifo_size) \
  X(Avutil, av_audio_fifo_write) \
  X(Avutil, av_channel_layout_copy) \
  X(Avutil, av_channel_layout_default) \
  X(Avutil, av_channel_layout_uninit) \
  X(Avutil, av_dict_free) \
  X(Avutil, av_dict_set) \
  X(Avutil, av_frame_alloc) \
  X(Avutil, av_frame_free) \
  X(Avutil, av_frame_get_buffer) \
  X(Avutil, av_frame_make_writable) \
  X(Avutil, av_free) \
  X(Avutil, av_log_set_level) \
  X(Avutil, av_malloc) \
  X(Avutil, av_opt_set) \
  X(Avutil, av_strerror) \
  X(Avcodec, av_packet_alloc) \
  X(Avcodec, av_packet_free) \
  X(Avcodec, av_packet_rescale_ts) \
  X(Avcodec, avcodec_alloc_context3) \
  X(Avcodec, avcodec_find_encoder) \
  X(Avcodec, avcodec_find_encoder_by_name) \
  X(Avcodec, avcodec_free_context) \
  X(Avcodec, avcodec_open2) \
  X(Avcodec, avcodec_parameters_from_context) \
  X(Avcodec, avcodec_receive_packet) \
  X(Avcodec, avcodec_send_frame) \
  X(Avformat, av_interleaved_write_frame) \
  X(Avformat, av_write_trailer) \
  X(Avformat, avformat_alloc_output_context2) \
  X(Avformat, avformat_free_context) \
  X(Avformat, avformat_new_stream) \
  X(Avformat, avformat_write_header) \
  X(Avformat, avio_closep) \
  X(Avformat, avio_open) \
  X(Swresample, swr_alloc_set_opts2) \
  X(Swresample, swr_convert) \
  X(Swresample, swr_free) \
  X(Swresample, swr_get_out_samples) \
  X(Swresample, swr_init) \
  X(Swscale, sws_freeContext) \
  X(Swscale, sws_getCoefficients) \
  X(Swscale, sws_getContext) \
  X(Swscale, sws_scale) \
  X(Swscale, sws_setColorspaceDetails)

struct FfmpegFunctions {
#define DEMO_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
  DEMO_FFMPEG_FUNCTIONS(DEMO_FFMPEG_POINTER)
#undef DEMO_FFMPEG_POINTER
};

const FfmpegFunctions* Ff = nullptr;
FfmpegFunctions* FfWritable = nullptr;  // for the testing hooks alone

#define DEMO_SONAME(name, major) DEMO_SONAME_TEXT(name, major)
#define DEMO_SONAME_TEXT(name, major) "lib" #name ".so." #major

// Opens the five libraries in the versions the headers describe and finds
// every function; false with the loader's reason otherwise. Done once: the
// libraries stay loaded for the rest of the run.
bool LoadFfmpeg(std::string& error) {
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] {
    void* const libraries[] = {
        dlopen(DEMO_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        dlopen(DEMO_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        dlopen(DEMO_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        dlopen(DEMO_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        dlopen(DEMO_SONAME(swscale, LIBSWSCALE_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
    };
    enum { Avutil, Avcodec, Avformat, Swresample, Swscale };
    static FfmpegFunctions functions;
#define DEMO_FFMPEG_FIND(library, name)                                                        \
  if (failure.empty()) {                                                                       \
    void* symbol = libraries[library] ? dlsym(libraries[library], #name) : nullptr;            \
    if (!symbol) {                                                                             \
      const char* why = dlerror();                                                             \
      failure = std::string("FFmpeg's libraries cannot be loaded: ") + (why ? why : #name);    \
    }                                                                                          \
    functions.name = reinterpret_cast<decltype(functions.name)>(symbol);                       \
  }
    DEMO_FFMPEG_FUNCTIONS(DEMO_FFMPEG_FIND)
#undef DEMO_FFMPEG_FIND
    if (failure.empty()) Ff = FfWritable = &functions;
  });
  if (!Ff) error = failure;
  return Ff != nullptr;
}

// Fast enough that x264 keeps pace with a software renderer on two cores at
// 1280x720; the constant-quality default (CRF 23) keeps the picture clean.
constexpr const char* X264Preset = "veryfast";
constexpr int64_t AudioBitRate = 192000;
constexpr int FallbackAudioRate = 48000;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  Ff->av_strerror(code, text, sizeof text);
  return text;
}

bool AacSupportsRate(int rate) {
  static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                              24000, 22050, 16000, 12000, 11025, 8000};
  return std::find(std::begin(rates), std::end(rates), rate) != std::end(rates);
}

}  // namespace

struct VideoEncoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int width = 0, height = 0;
  int inputChannels = 0;
  int64_t framesSent = 0;
  int64_t samplesSent = 0;
  bool headerWritten = false;
  std::vector<uint8_t*> planes;  // the resampler's output, one buffer per channel
  int planeCapacity = 0;         // samples each of them holds

  ~VideoEncoder() {
    Ff->avcodec_free_context(&video);
    Ff->avcodec_free_context(&audio);
    Ff->sws_freeContext(scaler);
    Ff->swr_free(&resampler);
    if (fifo) Ff->av_audio_fifo_free(fifo);
    Ff->av_frame_free(&picture);
    Ff->av_frame_free(&sound);
    Ff->av_packet_free(&packet);
    for (uint8_t* plane : planes) Ff->av_free(plane);
    if (format) {
      if (format->pb) Ff->avio_closep(&format->pb);
      Ff->avformat_free_context(format);
    }
  }
};

namespace {

// Hands every packet the codec has ready to the muxer.
bool DrainPackets(VideoEncoder* e, AVCodecContext* codec, AVStream* stream, std::string& error) {
  for (;;) {
    const int got = Ff->avcodec_receive_packet(codec, e->packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) {
      error = "encoding failed: " + AvError(got);
      return false;
    }
    Ff->av_packet_rescale_ts(e->packet, codec->time_base, stream->time_base);
    e->packet->stream_index = stream->index;
    const int written = Ff->av_interleaved_write_frame(e->format, e->packet);
    if (written < 0) {
      error = "writing failed: " + AvError(written);
      return false;
    }
  }
}

bool Send(VideoEncoder* e, AVCodecContext* codec, AVStream* stream, const AVFrame* frame,
          std::string& error) {
  const int sent = Ff->avcodec_send_frame(codec, frame);
  if (sent < 0 && sent != AVERROR_EOF) {
    error = "encoding failed: " + AvError(sent);
    return false;
  }
  return DrainPackets(e, codec, stream, error);
}

bool OpenVideo(VideoEncoder* e, const VideoEncoderSettings& s, std::string& error) {
  const AVCodec* codec = Ff->avcodec_find_encoder_by_name("libx264");
  if (!codec) codec = Ff->avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!codec) {
    error = "this FFmpeg has no H.264 encoder";
    return false;
  }
  e->video = Ff->avcodec_alloc_context3(codec);
  e->video->width = s.width;
  e->video->height = s.height;
  e->video->time_base = AVRational{1, s.fps};
  e->video->framerate = AVRational{s.fps, 1};
  e->video->pix_fmt = AV_PIX_FMT_YUV420P;
  e->video->gop_size = 2 * s.fps;  // a key frame every two seconds for seeking
  e->video->color_range = AVCOL_RANGE_MPEG;
  e->video->colorspace = AVCOL_SPC_BT709;
  e->video->color_primaries = AVCOL_PRI_BT709;
  e->video->color_trc = AVCOL_TRC_BT709;
  if (e->format->oformat->flags & AVFMT_GLOBALHEADER) e->video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Ff->av_opt_set(e->video->priv_data, "preset", X264Preset, 0);
  const int opened = Ff->avcodec_open2(e->video, codec, nullptr);
  if (opened < 0) {
    error = "cannot open the H.264 encoder for " + std::to_string(s.width) + "x" +
            std::to_string(s.height) + ": " + AvError(opened);
    return false;
  }
  e->videoStream = Ff->avformat_new_stream(e->format, nullptr);
  e->videoStream->time_base = e->video->time_base;
  e->videoStream->avg_frame_rate = e->video->framerate;
  Ff->avcodec_parameters_from_context(e->videoStream->codecpar, e->video);

  e->scaler = Ff->sws_getContext(s.width, s.height, AV_PIX_FMT_RGBA, s.width, s.height,
                             AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!e->scaler) {
    error = "no RGBA to YUV conversion";
    return false;
  }
  // Full-range RGB in, BT.709 video range out, as the stream is tagged.
  const int* bt709 = Ff->sws_getCoefficients(SWS_CS_ITU709);
  Ff->sws_setColorspaceDetails(e->scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  e->picture = Ff->av_frame_alloc();
  e->picture->format = AV_PIX_FMT_YUV420P;
  e->picture->width = s.width;
  e->picture->height = s.height;
  if (Ff->av_frame_get_buffer(e->picture, 0) < 0) {
    error = "no memory for a picture";
    return false;
  }
  return true;
}

bool OpenAudio(VideoEncoder* e, const VideoEncoderSettings& s, std::string& error) {
  const AVCodec* codec = Ff->avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) {
    error = "this FFmpeg has no AAC encoder";
    return false;
  }
  e->inputChannels = s.audioChannels;
  e->audio = Ff->avcodec_alloc_context3(codec);
  e->audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
  e->audio->sample_rate = AacSupportsRate(s.audioRate) ? s.audioRate : FallbackAudioRate;
  Ff->av_channel_layout_default(&e->audio->ch_layout, std::min(s.audioChannels, 2));
  e->audio->bit_rate = AudioBitRate;
  e->audio->time_base = AVRational{1, e->audio->sample_rate};
  if (e->format->oformat->flags & AVFMT_GLOBALHEADER) e->audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = Ff->avcodec_open2(e->audio, codec, nullptr);
  if (opened < 0) {
    error = "cannot open the AAC encoder: " + AvError(opened);
    return false;
  }
  e->audioStream = Ff->avformat_new_stream(e->format, nullptr);
  e->audioStream->time_base = e->audio->time_base;
  Ff->avcodec_parameters_from_context(e->audioStream->codecpar, e->audio);

  AVChannelLayout inputLayout;
  Ff->av_channel_layout_default(&inputLayout, s.audioChannels);
  const int made = Ff->swr_alloc_set_opts2(&e->resampler, &e->audio->ch_layout, AV_SAMPLE_FMT_FLTP,
                                       e->audio->sample_rate, &inputLayout, AV_SAMPLE_FMT_FLT,
                                       s.audioRate, 0, nullptr);
  Ff->av_channel_layout_uninit(&inputLayout);
  if (made < 0 || Ff->swr_init(e->resampler) < 0) {
    error = "cannot convert " + std::to_string(s.audioChannels) + " channels at " +
            std::to_string(s.audioRate) + " Hz for AAC";
    return false;
  }
  const int frameSize = e->audio->frame_size > 0 ? e->audio->frame_size : 1024;
  e->fifo = Ff->av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, e->audio->ch_layout.nb_channels, frameSize);
  e->sound = Ff->av_frame_alloc();
  e->sound->format = AV_SAMPLE_FMT_FLTP;
  e->sound->sample_rate = e->audio->sample_rate;
  Ff->av_channel_layout_copy(&e->sound->ch_layout, &e->audio->ch_layout);
  e->sound->nb_samples = frameSize;
  if (!e->fifo || Ff->av_frame_get_buffer(e->sound, 0) < 0) {
    error = "no memory for sound";
    return false;
  }
  return true;
}

// Encodes whole AAC frames from the queue; with flush also the last, short one.
bool EncodeQueuedSound(VideoEncoder* e, bool flush, std::string& error) {
  const int frameSize = e->sound->nb_samples;
  while (Ff->av_audio_fifo_size(e->fifo) >= frameSize || (flush && Ff->av_audio_fifo_size(e->fifo) > 0)) {
    if (Ff->av_frame_make_writable(e->sound) < 0) {
      error = "no memory for sound";
      return false;
    }
    const int take = std::min(frameSize, Ff->av_audio_fifo_size(e->fifo));
    Ff->av_audio_fifo_read(e->fifo, reinterpret_cast<void**>(e->sound->data), take);
    e->sound->nb_samples = take;
    e->sound->pts = e->samplesSent;
    e->samplesSent += take;
    const bool sent = Send(e, e->audio, e->audioStream, e->sound, error);
    e->sound->nb_samples = frameSize;
    if (!sent) return false;
  }
  return true;
}

// Runs samples (null: what the resampler still holds) through the resampler
// into the queue.
bool Resample(VideoEncoder* e, const float* samples, long frames, std::string& error) {
  const int outChannels = e->audio->ch_layout.nb_channels;
  const int capacity = Ff->swr_get_out_samples(e->resampler, static_cast<int>(frames));
  if (capacity <= 0) return true;
  if (e->planes.empty()) e->planes.assign(outChannels, nullptr);
  if (capacity > e->planeCapacity) {
    for (uint8_t*& plane : e->planes) {
      Ff->av_free(plane);
      plane = static_cast<uint8_t*>(Ff->av_malloc(sizeof(float) * capacity));
      if (!plane) {
        error = "no memory for sound";
        return false;
      }
    }
    e->planeCapacity = capacity;
  }
  const uint8_t* input = reinterpret_cast<const uint8_t*>(samples);
  const int converted = Ff->swr_convert(e->resampler, e->planes.data(), capacity,
                                    samples ? &input : nullptr, static_cast<int>(frames));
  if (converted < 0) {
    error = "sound conversion failed: " + AvError(converted);
    return false;
  }
  Ff->av_audio_fifo_write(e->fifo, reinterpret_cast<void**>(e->planes.data()), converted);
  return true;
}

}  // namespace

bool CheckVideoEncoding(VideoContainer, std::string& why) { return LoadFfmpeg(why); }

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
  if (!LoadFfmpeg(error)) return nullptr;
  Ff->av_log_set_level(AV_LOG_ERROR);
  auto* e = new VideoEncoder;
  e->width = s.width;
  e->height = s.height;
  const char* muxer = s.container == VideoContainer::Matroska ? "matroska" : "mp4";
  if (Ff->avformat_alloc_output_context2(&e->format, nullptr, muxer, s.path.c_str()) < 0 || !e->format) {
    error = std::string("this FFmpeg cannot write ") + muxer;
    delete e;
    return nullptr;
  }
  e->packet = Ff->av_packet_alloc();
  bool ok = OpenVideo(e, s, error) && (s.audioRate <= 0 || OpenAudio(e, s, error));
  if (ok) {
    const int opened = Ff->avio_open(&e->format->pb, s.path.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) {
      error = "cannot write '" + s.path + "': " + AvError(opened);
      ok = false;
    }
  }
  if (ok) {
    AVDictionary* options = nullptr;
    // The index goes to the front so that players can start before the whole
    // file has arrived.
    if (s.container == VideoContainer::Mp4) Ff->av_dict_set(&options, "movflags", "+faststart", 0);
    const int header = Ff->avformat_write_header(e->format, &options);
    Ff->av_dict_free(&options);
    if (header < 0) {
      error = "cannot start the file: " + AvError(header);
      ok = false;
    }
    e->headerWritten = ok;
  }
  if (!ok) {
    delete e;
    return nullptr;
  }
  return e;
}

bool EncodeVideoFrame(VideoEncoder* e, const uint8_t* rgba, std::string& error) {
  if (Ff->av_frame_make_writable(e->picture) < 0) {
    error = "no memory for a picture";
    return false;
  }
  // Starting at the last row with a negative stride turns GL's bottom-up rows
  // into the video's top-down ones for free.
  const int stride = e->width * 4;
  // The converter reads four planes and four strides whatever the format
  // uses: the ones RGBA leaves unused are null.
  const uint8_t* source[AV_NUM_DATA_POINTERS] = {rgba + static_cast<size_t>(e->height - 1) * stride};
  const int strides[AV_NUM_DATA_POINTERS] = {-stride};
  Ff->sws_scale(e->scaler, source, strides, 0, e->height, e->picture->data, e->picture->linesize);
  e->picture->pts = e->framesSent++;
  return Send(e, e->video, e->videoStream, e->picture, error);
}

bool EncodeAudioSamples(VideoEncoder* e, const float* samples, long frames, std::string& error) {
  if (!e->audio || frames <= 0) return true;
  return Resample(e, samples, frames, error) && EncodeQueuedSound(e, false, error);
}

bool FinishVideoEncoder(VideoEncoder* e, std::string& error) {
  bool ok = Send(e, e->video, e->videoStream, nullptr, error);
  if (ok && e->audio) {
    ok = Resample(e, nullptr, 0, error) && EncodeQueuedSound(e, true, error) &&
         Send(e, e->audio, e->audioStream, nullptr, error);
  }
  if (ok) {
    const int trailer = Ff->av_write_trailer(e->format);
    if (trailer < 0) {
      error = "cannot complete the file: " + AvError(trailer);
      ok = false;
    }
  }
  if (ok && e->format->pb) {
    const int closed = Ff->avio_closep(&e->format->pb);
    if (closed < 0) {
      error = "cannot complete the file: " + AvError(closed);
      ok = false;
    }
  }
  delete e;
  return ok;
}

void AbortVideoEncoder(VideoEncoder* e) { delete e; }

VideoScaleFunction ReplaceVideoScaleFunction(VideoScaleFunction scale) {
  std::string error;
  if (!LoadFfmpeg(error)) return nullptr;
  const VideoScaleFunction before = FfWritable->sws_scale;
  FfWritable->sws_scale = scale;
  return before;
}
