// Random bytes from the operating system's generator, for secrets (the
// studio's token): getrandom, or /dev/urandom where the kernel lacks it, on
// Linux; BCryptGenRandom on Windows.
#pragma once

#include <cstddef>
#include <string>

// Fills out with size unpredictable bytes; false with the reason when the
// system gives none (then nothing secret may be made of out).
bool SystemRandomBytes(void* out, std::size_t size, std::string& why);
