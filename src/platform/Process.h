// Process service: how the demo's process is set up before anything else runs,
// and how long ago the operating system started it.
#pragma once

// Call first in main, with main's argv, once the arguments are known to be
// good. Start-up fills close to a gigabyte of fresh memory (each image's
// square, each texture's storage in a software GL, the multisampled window),
// and on a virtual machine faulting it in 4 KiB at a time costs more than
// everything drawn into it. Where the system backs memory with huge pages
// only on request, the Linux backend starts the program over once (same
// process, arguments and environment) with the C library told to make that
// request for its large blocks; elsewhere, or when that cannot be done, it
// returns and the program goes on as it is.
void PrepareDemoProcess(char** argv);

// Milliseconds since the system started this process, counting the loading
// of its libraries and any start over; negative when the system does not say.
// On Linux the start is recorded to the clock tick (10 ms).
double MsSinceProcessStart();
