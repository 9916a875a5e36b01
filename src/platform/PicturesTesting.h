// TESTING ONLY: hooks into the pictures service for tests. Besides them only
// the backend that implements a hook includes it.
#pragma once

// While set, CreatePngBitmapDecoder fails as it does when memory runs out
// (errno ENOMEM, on Windows ERROR_NOT_ENOUGH_MEMORY).
void SetPngBitmapDecoderCreationFails(bool fails);
