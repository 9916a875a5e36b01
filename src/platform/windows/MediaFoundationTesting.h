// TESTING ONLY: the two places where the Media Foundation video encoder meets
// what Wine lacks, replaceable by a test: the question whether an encoder is
// registered, and the sink writer itself. Everything else (media types,
// samples, buffers) stays the system's own. Besides the tests only
// VideoEncoderMediaFoundation.cpp includes it.
#pragma once

// clang-format off
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
// clang-format on

struct MediaFoundationCalls {
  // Whether an encoder of category from uncompressed input to subtype is there.
  bool (*hasEncoder)(const GUID& category, const GUID& major, const GUID& subtype);
  // MFCreateSinkWriterFromURL.
  HRESULT (*createSinkWriter)(const WCHAR* url, IMFByteStream* stream, IMFAttributes* attributes,
                              IMFSinkWriter** writer);
};

// Every later check and encoder calls these instead of the system's; null
// gives the system's back.
void ReplaceMediaFoundationCalls(const MediaFoundationCalls* calls);
