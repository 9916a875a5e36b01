// Process service: how the demo's process is set up before anything else runs,
// how long ago the operating system started it, the processor time it has
// used and where its stderr goes.
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

// User and system processor time of the whole process so far, all its threads
// together, in seconds; 0 when the system does not say.
double ProcessorSeconds();

// Whether stderr is a terminal (a console on Windows), where a progress line
// can rewrite itself; a log file or a pipe gets whole lines instead.
bool StderrIsTerminal();

// Lowers the calling thread's scheduling priority a step below the rest of
// the process, for work in the background (reading the whole music for the
// studio) that must not take processor time from the frame loop. Does
// nothing where the system does not allow it.
void YieldThreadToForeground();
