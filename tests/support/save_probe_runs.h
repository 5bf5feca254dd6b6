// Runs of the save probe (tests/files/probe): a picture saved over a file
// that dies, fails or is cancelled at a chosen step of the writing.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// What one run of the probe did.
struct TProbeRun {
    // Ended by a signal (the probe's own SIGKILL, or the test's).
    bool killed = false;
    // "saved", "cancelled" or "failed"; empty when killed.
    QString outcome;
    // The steps made, and the one after which the target first differed.
    int steps = 0;
    int firstChange = 0;
    // "accepted", "refused" or "none".
    QString cancel;
    // A failure's message.
    QString message;
};

// Starts the probe with these arguments (picture, target, mode, step,
// options: see the probe), the user's cache folder at `cache`.
void StartProbe(QProcess &probe, const QStringList &arguments, const QString &cache);

// Waits for the probe to end and reads what it did.
TProbeRun Finished(QProcess &probe);

// Starts the probe and waits for it to end.
TProbeRun RunProbe(const QStringList &arguments, const QString &cache);
