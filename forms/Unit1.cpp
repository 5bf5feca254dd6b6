// TForm1: the main window and its event methods.
#include "Unit1.h"

#include "imaging/complement.h"

TForm1 *Form1 = nullptr;

const TPublishedMethods<TForm1> TForm1::Published = {
    {QStringLiteral("Open1Click"), &TForm1::Open1Click},
    {QStringLiteral("Save1Click"), &TForm1::Save1Click},
    {QStringLiteral("ExitwithoutSaving1Click"), &TForm1::ExitwithoutSaving1Click},
    {QStringLiteral("Help1Click"), &TForm1::Help1Click},
    {QStringLiteral("Image1MouseMove"), &TForm1::Image1MouseMove},
    {QStringLiteral("Complement1Click"), &TForm1::Complement1Click},
    {QStringLiteral("EdgeDetection1Click"), &TForm1::EdgeDetection1Click},
    {QStringLiteral("ComboBox1Change"), &TForm1::ComboBox1Change},
    {QStringLiteral("FlipRotate1Click"), &TForm1::FlipRotate1Click},
    {QStringLiteral("Thresholding1Click"), &TForm1::Thresholding1Click},
    {QStringLiteral("Button1Click"), &TForm1::Button1Click},
};

TForm1::TForm1(TComponent *Owner) : TFormWith(Owner) {}

void TForm1::Open1Click(TObject *)
{
    if (!OpenPictureDialog1->Execute()) return;
    Image1->SetAutoSize(true);
    Image1->GetPicture()->LoadFromFile(OpenPictureDialog1->GetFileName());
}

void TForm1::Save1Click(TObject *)
{
    if (!SavePictureDialog1->Execute()) return;
    Image1->GetPicture()->SaveToFile(SavePictureDialog1->GetFileName());
}

void TForm1::ExitwithoutSaving1Click(TObject *) { Close(); }

void TForm1::Help1Click(TObject *) {}

void TForm1::Image1MouseMove(TObject *, TShiftState, int, int) {}

void TForm1::Complement1Click(TObject *)
{
    Complement(*Image1->GetPicture()->GetBitmap());
    Repaint();
}

void TForm1::EdgeDetection1Click(TObject *) {}

void TForm1::ComboBox1Change(TObject *) {}

void TForm1::FlipRotate1Click(TObject *) {}

void TForm1::Thresholding1Click(TObject *) {}

void TForm1::Button1Click(TObject *) {}
