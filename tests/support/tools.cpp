// Other programs run on files.
#include "support/tools.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

bool ToolFound(const QString &program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

QByteArray MadeBy(const QString &program, const QStringList &arguments, const QByteArray &input, const QString &inputName,
                  const QString &outputName)
{
    QTemporaryDir folder;
    const QString in = folder.filePath(inputName), out = folder.filePath(outputName);
    QFile inFile(in);
    if (!inFile.open(QIODevice::WriteOnly) || inFile.write(input) != input.size()) return {};
    inFile.close();
    QStringList filled;
    for (const QString &argument : arguments) filled << (argument == QLatin1String("IN") ? in : argument == QLatin1String("OUT") ? out : argument);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStandardPaths::findExecutable(program), filled);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
    QFile outFile(out);
    return outFile.open(QIODevice::ReadOnly) ? outFile.readAll() : QByteArray();
}
