// A run told to stop (SIGINT from Ctrl-C, SIGTERM from a batch scheduler,
// SIGHUP, SIGPIPE, and every other signal whose default action ends the
// process: SIGQUIT, SIGABRT, SIGUSR1, SIGALRM, the real-time signals...)
// removes the temporary files it has named and the output folders it has
// made, then ends the way the signal asks: the signal is raised again with
// its default action, so a shell sees status 130 for Ctrl-C, a scheduler
// sees the signal, and a signal that dumps core still does. Unnamed
// temporary files need no such care: the kernel frees them however the
// process ends, SIGKILL included.
//
// A signal the process was started to ignore (SIGHUP under nohup) stays
// ignored, and one that another part of the process already handles (a
// sanitizer's SIGSEGV) is left to it. SIGXFSZ, which a write past the
// file size limit (ulimit -f) raises, is ignored: the write then fails
// with EFBIG, and the run fails as on a full disk, naming the output.
//
// Putting the outputs in place is one short step that a stop never cuts
// in two: a stop that comes during it waits until all five are in place,
// and a stop that has begun keeps the step from starting.
//
// The handler does only what is safe in one: lock-free atomics, unlink,
// rmdir, sigaction and raise.
#ifndef SCANFIT_DRIVER_STOP_SIGNALS_H_
#define SCANFIT_DRIVER_STOP_SIGNALS_H_

// Installs the handler for every such signal that has its default action
// now; more calls change nothing.
void installStopHandlers();

// Remembers a named temporary file to remove on a stop, until forgotten.
// Returns its slot, or -1 when the path is too long or every slot is
// taken (then a stop leaves it behind).
int rememberTemporary(const char* path);
// The same for a folder the run made, to remove when it is still empty.
// Folders are remembered from the outermost in.
int rememberFolder(const char* path);
void forgetTemporary(int slot);

// Removes the named temporaries remembered, then the folders, the
// innermost first; safe in a signal handler.
void removeTemporaries();

// Around putting the outputs in place. beginPuttingInPlace returns only
// when no stop has begun (if one has, it never returns: the process is
// ending); endPuttingInPlace ends the process as the stop that came
// meanwhile asked, if one did.
void beginPuttingInPlace();
void endPuttingInPlace();

#endif  // SCANFIT_DRIVER_STOP_SIGNALS_H_
