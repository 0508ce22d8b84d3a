#pragma once

// The endings a program can catch. SIGINT, SIGTERM and SIGHUP end it as Stop
// ends a job: the job being sent stops after its chunk (a port's with the
// knife up, an upload abandoned so the server keeps nothing, a file's
// temporary copy removed), and so does a job begun later, at its first
// chunk. A second such signal ends the program at once, after removing the
// temporary file of a job being written. SIGXFSZ is ignored, so a write past
// the file size limit fails (EFBIG) and is reported as any failed write.

// notifyFd, when not -1, gets one byte at the first signal (a window's
// event loop listens there).
void CatchStopSignals(int notifyFd = -1);
// The first signal caught since, 0 for none.
int CaughtStopSignal();
// The dispositions CatchStopSignals found for SIGINT, SIGTERM and SIGHUP are
// back: such a signal now ends the program as it would have.
void ReleaseStopSignals();
