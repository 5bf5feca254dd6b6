// THelpDlg: the small help dialog, made once and shown modally on request.
#pragma once

#include "platform/controls/forms.h"
#include "ui_Unit2.h"

class THelpDlg : public TFormWith<THelpDlg, Ui::THelpDlg> {
public:
    explicit THelpDlg(TComponent *Owner);

    // The dialog handles no events of its own.
    static const TPublishedMethods<THelpDlg> Published;
};

extern THelpDlg *HelpDlg;
