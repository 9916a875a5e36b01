// Between the pending files and the quit signals on POSIX: a process ended by
// a second Ctrl+C still removes the temporary it was writing.
#pragma once

// Removes the temporary of the pending file created last, when it has been
// neither committed nor discarded. Async-signal-safe: one unlink(2).
void RemoveOpenPendingFileNow();
