// Windows: BCryptGenRandom with the system's preferred generator (Vista and
// later; bcrypt.dll is part of every Windows the demo runs on).
#include "platform/SystemRandom.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>

bool SystemRandomBytes(void* out, std::size_t size, std::string& why) {
  const NTSTATUS status = BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status >= 0) return true;
  char text[64];
  std::snprintf(text, sizeof text, "BCryptGenRandom failed (0x%08lx)", static_cast<unsigned long>(status));
  why = text;
  return false;
}
