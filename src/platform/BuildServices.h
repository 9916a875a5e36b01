// Which of the services that only some modes need this build has, and what
// they can do here. A build without one links a refusing backend in its
// place (src/platform/unavailable/), whose calls fail with the reason "... is
// not available in this build", so that callers are the same everywhere and
// never test the platform; the command line's help asks here so that it
// lists only what can work.
//
// A service that the build has may still be missing at run time (a library
// the system lacks): its backend then refuses with that reason.
#pragma once

// The end of every refusing backend's reason: "offscreen GL is not available
// in this build".
inline constexpr const char* NotInThisBuild = "is not available in this build";

struct BuildServices {
  bool offscreenGl = false;   // OffscreenGl.h
  bool pngWriter = false;     // PngWriter.h
  bool videoEncoder = false;  // VideoEncoder.h, with MusicProbe.h's decoder and Files.h's pending files
  bool matroska = false;      // the video encoder writes Matroska as well as MP4
};

// What this build links: the platform's own answer, next to its backends.
BuildServices ServicesInThisBuild();
