// User input that comes while long work runs: held, and given back in order
// once the command that started the work has ended.
//
// While the work runs:
//  - keys, clicks, the wheel and shortcuts meant for any window are held in
//    order; a run of pointer moves to one widget is held as its last move,
//    which is all the pointer readout needs;
//  - input to the progress dialog acts at once; so do drags, and a file
//    dropped meanwhile opens once the hold ends (RunWhenIdle);
//  - Escape acts at once, on the work (see THoldReactions), and is never held.
// From the work's start until the event method that started it has returned
// (with any message it shows after the work), a window's close is a request,
// honoured then; it drops the input held before it and any that follows:
// the window is going.
// Held input is then given back one event at a time, each to the widget or
// shortcut it was meant for, if that still exists; input that comes
// meanwhile follows it. An event whose command opens a menu or a modal
// window (a held Ctrl+S and its Save dialog) ends the giving back: what
// remains was meant for the window now behind it, and is dropped.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

// What the work that runs now does at Escape and at a window's close.
struct THoldReactions {
    std::function<void()> escape;
    std::function<void()> close;
};

// Holds input from its construction, while the work runs; the hold ends once
// the work has ended and no event method runs any more.
class TWorkHold {
public:
    TWorkHold();
    ~TWorkHold();
    TWorkHold(const TWorkHold &) = delete;
    TWorkHold &operator=(const TWorkHold &) = delete;

    void SetReactions(THoldReactions reactions);
    // Input to this window and its widgets acts at once.
    void LetThrough(QWidget *window);
};

// An event method runs (Application->HandleEvent): held input waits until
// the outermost one has returned.
class TEventMethodScope {
public:
    TEventMethodScope();
    ~TEventMethodScope();
    TEventMethodScope(const TEventMethodScope &) = delete;
    TEventMethodScope &operator=(const TEventMethodScope &) = delete;
};

// Runs method as an event method from the message loop, once no work runs
// and the input held before it has been given back; nothing once context
// is gone.
void RunWhenIdle(QObject *context, std::function<void()> method);
