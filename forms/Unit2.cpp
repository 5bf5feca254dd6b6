// THelpDlg: the small help dialog, made once and shown modally on request.
#include "Unit2.h"

THelpDlg *HelpDlg = nullptr;

const TPublishedMethods<THelpDlg> THelpDlg::Published = {};

THelpDlg::THelpDlg(TComponent *Owner) : TFormWith(Owner) {}
