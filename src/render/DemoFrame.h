// Frame composition: one picture of the running demo from the tracks at the
// music's current row.
#pragma once

// Draws and presents one frame. Returns false when the show has ended (control
// code 777): that frame is not presented and a quit has been posted.
bool DemoFrame();
