// The window waiting for long work: a worker thread does the work while the
// UI thread runs a local event loop, so that the windows keep repainting.
//
// While the work runs:
//  - after a quarter of a second the busy cursor shows;
//  - no user input reaches any window (menus, shortcuts, controls, the
//    pointer readout, drops), except the progress dialog;
//  - closing a window cancels cancellable work and refuses to close; the
//    window closes once the work has ended;
//  - for in-place work, every image control shows what it showed when the
//    work began and reads nothing of its picture until the work is done;
//  - cancellable work that lasts over a second shows a modal progress
//    dialog whose Cancel button (or Escape) cancels it.
// Once the work is done, an exception it raised is raised again on the UI
// thread, so that it reaches the message loop as if the work had run there.
// Cancelled work raises ECancelled, even when it ran to its end before it
// saw the cancellation: its result is not taken.
#pragma once

#include "platform/pictures/work_progress.h"

#include <functional>

// Runs an operation that changes pictures in place while the window waits.
void RunOperation(const std::function<void()> &operation);

// The runner installed for RunLongWork (see work_progress.h). On any thread
// but the UI thread, or while the window already waits, it runs the work
// at once.
void WaitForWork(TLongWork kind, const AnsiString &caption, const std::function<void()> &work);

// How long work lasts before the busy cursor and the progress dialog show.
constexpr int BusyCursorDelayMs = 250;
constexpr int ProgressDialogDelayMs = 1000;
