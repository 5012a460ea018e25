#pragma once

#include "platform/ChildProcess.h"

#include <memory>

namespace quorvel::gtk {

// Starts children with fork and execve: argv is the executable's path followed
// by the arguments, the environment is exactly the one given, the working
// directory is changed to when given, standard streams are inherited and no
// other descriptor is. launch() waits only until the child has executed the
// program (or failed to), and reports a failure with the system's text.
//
// The child asks the kernel for SIGTERM when its parent dies, so a crashed
// shell never leaves it running. The kernel ties that to the thread that
// forked: call launch() from the main thread. Exited children are reaped on
// the GLib main loop, where `exited` then hears how the child ended (unless
// its handle is gone: destroying the handle neither kills the child nor stops
// its reaping); terminate() sends SIGTERM until then, and nothing after.
// Destroy the handles on the main thread.
std::unique_ptr<ProcessLauncher> makePosixProcessLauncher();

} // namespace quorvel::gtk
