// The one shape every picture of the demo is drawn on.
#pragma once

// The whole bound texture on a 2 x 2 quad in the plane z = 0, centred on the
// origin: texture (0, 0) at (-1, -1) up to (1, 1) at (1, 1).
void DrawTexturedQuad();
