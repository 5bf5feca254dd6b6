// The entry function: reads the command line, then creates the windows and
// runs the message loop. The file it may name opens once the window is up,
// as a desktop's "Open with" passes it.
#include "app/command_line.h"
#include "forms/Unit1.h"
#include "forms/Unit2.h"
#include "platform/controls/application.h"
#include "platform/files/disk/unfinished_saves.h"

#include <QFile>

#include <cstdio>

namespace {

// Status 2 for a command line it cannot take, as command-line programs give.
constexpr int MisusedExitStatus = 2;

// Prints text to stream; false when it could not be written whole.
bool Print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream) == static_cast<std::size_t>(bytes.size())
           && std::fflush(stream) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QFile::decodeName(argv[i]);
    const TCommandLine command = ReadCommandLine(arguments);
    switch (command.action) {
    case TCommandLine::TAction::PrintUsage: return Print(stdout, UsageText()) ? 0 : 1;
    case TCommandLine::TAction::PrintVersion: return Print(stdout, VersionText()) ? 0 : 1;
    case TCommandLine::TAction::Refuse:
        Print(stderr, QStringLiteral("picture-workbench: %1\n").arg(command.mistake) + UsageText());
        return MisusedExitStatus;
    case TCommandLine::TAction::Run: break;
    }
    try {
        Application->Initialize();
        Application->CreateForm(&Form1);
        Application->CreateForm(&HelpDlg);
        Application->HandleEventOnceRunning(CheckUnfinishedSaves);
        if (!command.fileName.isEmpty()) Form1->OpenPictureOnceShown(command.fileName);
        Application->Run();
    } catch (...) {
        const Exception error = TApplication::CurrentException(QStringLiteral("The program stopped because of an unknown error"));
        Application->ShowException(&error);
    }
    Application->Shutdown();
    return 0;
}
