// The window waiting for long work: a worker thread does the work while the
// UI thread runs a local event loop, so that the windows keep repainting.
//
// While the work runs:
//  - after a quarter of a second the busy cursor shows;
//  - user input is held and given back once the command has ended, except
//    for the progress dialog's and Escape, which stops work that can stop
//    (held_input.h);
//  - closing a window is a request honoured once the command has ended:
//    an opening is cancelled, a save and an operation run to their end (a
//    save shows its progress at once, saying the window then closes);
//  - for in-place work, every image control shows what it showed when the
//    work began and reads nothing of its picture until the work is done;
//  - an opening or a save that lasts over a second shows a progress dialog
//    whose Cancel button (or Escape) cancels it; once the work is past its
//    point of no return (BeginFinishing), Cancel is disabled and the dialog
//    says it is finishing. The dialog is not modal to Qt, which would drop
//    a window manager's close of the window behind it: the hold keeps the
//    other windows' input instead.
// Once the work is done, an exception it raised is raised again on the UI
// thread, so that it reaches the message loop as if the work had run there.
// A cancelled opening raises ECancelled, even when it ran to its end before
// it saw the cancellation: its result is not taken. A save that returned
// has written its file and is never reported as cancelled.
#pragma once

#include "platform/base/work_progress.h"

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
