// TForm1: the main window and its event methods.
#include "Unit1.h"

#include "Unit2.h"
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "platform/controls/held_input.h"
#include "platform/controls/waiting.h"
#include "platform/files/picture_files.h"
#include "zoom_presets.h"

#include <QFileInfo>

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

TForm1::TForm1(TComponent *Owner) : TFormWith(Owner)
{
    SetOnDropFile([this](const AnsiString &fileName) { OpenPicture(fileName); });
}

void TForm1::Open1Click(TObject *)
{
    if (!OpenPictureDialog1->Execute()) return;
    OpenPicture(OpenPictureDialog1->GetFileName());
}

void TForm1::OpenPicture(const AnsiString &fileName)
{
    Image1->SetAutoSize(true);
    try {
        Image1->GetPicture()->LoadFromFile(fileName);
    } catch (const EPictureIncomplete &) {
        // Its rows are shown: it is the file the picture is from.
        ShowsFile(fileName);
        throw;
    }
    ShowsFile(fileName);
}

void TForm1::OpenPictureOnceShown(const AnsiString &fileName)
{
    RunWhenIdle(this, [this, fileName] { OpenPicture(fileName); });
}

// Both dialogs then start from the file: Save proposes its folder and name.
void TForm1::ShowsFile(const AnsiString &fileName)
{
    const AnsiString shown = QFileInfo(fileName).absoluteFilePath();
    OpenPictureDialog1->SetFileName(shown);
    SavePictureDialog1->SetFileName(shown);
}

void TForm1::Save1Click(TObject *)
{
    if (!SavePictureDialog1->Execute()) return;
    Image1->GetPicture()->SaveToFile(SavePictureDialog1->GetFileName());
}

void TForm1::ExitwithoutSaving1Click(TObject *) { Close(); }

void TForm1::Help1Click(TObject *) { HelpDlg->ShowModal(); }

// The pointer position is used as a picture position as it is, unscaled by
// the zoom.
void TForm1::Image1MouseMove(TObject *, TShiftState, int X, int Y)
{
    StatusBar1->GetPanels()->GetItem(0)->SetText("X=" + IntToStr(X));
    StatusBar1->GetPanels()->GetItem(1)->SetText("Y=" + IntToStr(Y));
    const TColor colour = Image1->GetCanvas()->GetPixel(X, Y);
    Label1->SetCaption(Format("%i", GetRValue(colour)));
}

void TForm1::Complement1Click(TObject *)
{
    RunOperation([this] { Complement(*Image1->GetPicture()->GetBitmap()); });
    Repaint();
}

void TForm1::EdgeDetection1Click(TObject *)
{
    RunOperation([this] { EdgeDetection(*Image1->GetPicture()->GetBitmap()); });
    Repaint();
}

void TForm1::ComboBox1Change(TObject *)
{
    float divisor = 1.0f;
    if (const std::optional<float> preset = ZoomDivisorFor(ComboBox1->GetText()))
        divisor = *preset;
    else
        ComboBox1->SetText("100%");
    const TBitmap *bitmap = Image1->GetPicture()->GetBitmap();
    Image1->SetAutoSize(false);
    Image1->SetStretch(true);
    Image1->SetWidth(ZoomedSide(bitmap->GetWidth(), divisor));
    Image1->SetHeight(ZoomedSide(bitmap->GetHeight(), divisor));
}

void TForm1::FlipRotate1Click(TObject *)
{
    RunOperation([this] { MirrorLeftRight(*Image1->GetPicture()->GetBitmap()); });
}

void TForm1::Thresholding1Click(TObject *)
{
    RunOperation([this] { CapturePixels(*Image1->GetPicture()->GetBitmap()); });
}

void TForm1::Button1Click(TObject *)
{
    Edit2->SetText(Format("%i", PixelTable[2][2]));
    Edit3->SetText(Format("%i", PixelTable[200][200]));
}
