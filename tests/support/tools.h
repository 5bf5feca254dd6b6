// Other programs run on files: an encoder's or converter's output for an
// input file. Without test-framework calls, so that the fuzz seeds' writer
// uses them too.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

bool ToolFound(const QString &program);

// Skips the current test, with a message, when the program is absent.
#define SKIP_WITHOUT_TOOL(program)                                                                              \
    if (!ToolFound(QStringLiteral(program)))                                                                    \
    GTEST_SKIP() << program << " is not installed (scripts/install-dependencies.sh test)"

// Runs the program with `arguments`, where "IN" stands for a file holding
// `input` named `inputName` and "OUT" for a file named `outputName` it
// writes: what it wrote, or empty when it fails.
QByteArray MadeBy(const QString &program, const QStringList &arguments, const QByteArray &input, const QString &inputName,
                  const QString &outputName);
