#pragma once

// The making runs behind whatever the user is waiting for: the service's replies, the window,
// the user's other programs. It is lowered for one thread at a time; what that thread starts
// afterwards (threads, encoders' worker threads, child programs) inherits it from the kernel.
namespace Priority {

// The background's CPU share: niceness 10, a tenth of a normal thread's weight.
constexpr int backgroundNice = 10;
// The lowest best-effort disk level, never the idle class, which can wait indefinitely.
constexpr int backgroundDiskLevel = 7;

// Lowers the calling thread to the background's CPU and disk priority, never raising what is
// already lower. Lowering needs no privilege, and undoing it would: the thread keeps it for
// life. Where the system refuses, the thread stays as it was: a courtesy, never a failure.
void background();

} // namespace Priority
