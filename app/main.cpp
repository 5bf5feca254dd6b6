// The entry function: creates the windows and runs the message loop. The
// one argument it reads is a picture file to open at start, as a desktop's
// "Open with" passes it.
#include "forms/Unit1.h"
#include "forms/Unit2.h"
#include "platform/controls/application.h"
#include "platform/files/unfinished_saves.h"

#include <QFile>

int main(int argc, char *argv[])
{
    try {
        Application->Initialize();
        Application->CreateForm(&Form1);
        Application->CreateForm(&HelpDlg);
        Application->HandleEventOnceRunning(CheckUnfinishedSaves);
        if (argc > 1) Form1->OpenPictureOnceShown(QFile::decodeName(argv[1]));
        Application->Run();
    } catch (...) {
        const Exception error = TApplication::CurrentException(QStringLiteral("The program stopped because of an unknown error"));
        Application->ShowException(&error);
    }
    Application->Shutdown();
    return 0;
}
