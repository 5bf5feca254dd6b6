// Runs of the save probe.
#include "support/save_probe_runs.h"

#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

void StartProbe(QProcess &probe, const QStringList &arguments, const QString &cache)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(PW_SAVE_PROBE), arguments);
    EXPECT_TRUE(probe.waitForStarted()) << PW_SAVE_PROBE;
}

TProbeRun Finished(QProcess &probe)
{
    EXPECT_TRUE(probe.waitForFinished(120000));
    TProbeRun run;
    run.killed = probe.exitStatus() == QProcess::CrashExit;
    const QStringList lines = QString::fromLocal8Bit(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    static const QRegularExpression summary(QStringLiteral("^(\\w+) steps=(\\d+) first-change=(\\d+) cancel=(\\w+)$"));
    if (const QRegularExpressionMatch m = summary.match(lines.value(0)); m.hasMatch()) {
        run.outcome = m.captured(1);
        run.steps = m.captured(2).toInt();
        run.firstChange = m.captured(3).toInt();
        run.cancel = m.captured(4);
        run.message = lines.value(1);
    }
    return run;
}

TProbeRun RunProbe(const QStringList &arguments, const QString &cache)
{
    QProcess probe;
    StartProbe(probe, arguments, cache);
    return Finished(probe);
}
