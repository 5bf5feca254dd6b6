// What the command line asks for: the window, with a file to open or none;
// the usage or the version, printed; or a mistake, refused.
//
//   picture-workbench [FILE]
//   picture-workbench --help | --version
//
// FILE is a path or a file:// URI of this computer (%20 and the rest
// decoded). An argument starting with "-" is an option; a file whose name
// starts so is given as ./-name, or after "--".
#pragma once

#include <QString>
#include <QStringList>

struct TCommandLine {
    enum class TAction { Run, PrintUsage, PrintVersion, Refuse };
    TAction action = TAction::Run;
    // Run: the file to open, or empty.
    QString fileName;
    // Refuse: why, in one line.
    QString mistake;
};

// Reads the arguments that follow the program's name.
TCommandLine ReadCommandLine(const QStringList &arguments);

// The usage text and the version line, each ending in a newline.
QString UsageText();
QString VersionText();
