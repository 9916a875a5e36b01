// TESTING ONLY: a hook into the Windows picture backend (PictureOle.cpp).
#pragma once

// While set, the memory GDI draws pictures and bitmaps into cannot be made:
// CreateDIBSection fails as it does when the system runs short
// (ERROR_NOT_ENOUGH_MEMORY).
void SetPictureDrawingFails(bool fails);
