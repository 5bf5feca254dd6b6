// The entry function: creates the windows and runs the message loop.
#include "forms/Unit1.h"
#include "forms/Unit2.h"
#include "platform/controls/application.h"

int main()
{
    try {
        Application->Initialize();
        Application->CreateForm(&Form1);
        Application->CreateForm(&HelpDlg);
        Application->Run();
    } catch (...) {
        const Exception error = TApplication::CurrentException(QStringLiteral("The program stopped because of an unknown error"));
        Application->ShowException(&error);
    }
    Application->Shutdown();
    return 0;
}
