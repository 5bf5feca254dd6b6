// The signals that ask a program to stop (SIGTERM from kill and from a
// desktop's logout, SIGHUP when its terminal goes, SIGINT from Ctrl+C) close
// its window as the window's close button does.
#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QSocketNotifier;

// Catches the stop signals for its lifetime (one object at a time); each
// closes the modal windows in front, then `window`, from the message loop.
// The handler only writes the signal's number to a pipe, which the message
// loop reads: nothing else is safe inside a signal handler.
class TStopSignals {
public:
    explicit TStopSignals(QWidget *window);
    ~TStopSignals();
    TStopSignals(const TStopSignals &) = delete;
    TStopSignals &operator=(const TStopSignals &) = delete;

private:
    void Stop();

    QPointer<QWidget> window_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
