// Video encoding where the build has none (Windows so far): no encoder is
// ever opened, so the other calls only see null and refuse likewise.
#include "platform/VideoEncoder.h"

#include "platform/BuildServices.h"

namespace {
const std::string Reason = std::string("video encoding ") + NotInThisBuild;
}

VideoEncoder* OpenVideoEncoder(const VideoEncoderSettings&, std::string& error) {
  error = Reason;
  return nullptr;
}

bool EncodeVideoFrame(VideoEncoder*, const uint8_t*, std::string& error) {
  error = Reason;
  return false;
}

bool EncodeAudioSamples(VideoEncoder*, const float*, long, std::string& error) {
  error = Reason;
  return false;
}

bool FinishVideoEncoder(VideoEncoder*, std::string& error) {
  error = Reason;
  return false;
}

void AbortVideoEncoder(VideoEncoder*) {}
