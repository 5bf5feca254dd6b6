// TForm1: the main window and its event methods.
#pragma once

#include "platform/controls/forms.h"
#include "ui_Unit1.h"

class TForm1 : public TFormWith<TForm1, Ui::TForm1> {
public:
    explicit TForm1(TComponent *Owner);

    void Open1Click(TObject *Sender);
    void Save1Click(TObject *Sender);
    void ExitwithoutSaving1Click(TObject *Sender);
    void Help1Click(TObject *Sender);
    void Image1MouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
    void Complement1Click(TObject *Sender);
    void EdgeDetection1Click(TObject *Sender);
    void ComboBox1Change(TObject *Sender);
    void FlipRotate1Click(TObject *Sender);
    void Thresholding1Click(TObject *Sender);
    void Button1Click(TObject *Sender);

    // Opens fileName as File -> Open does with the file chosen in its dialog.
    void OpenPicture(const AnsiString &fileName);
    // Opens fileName once the message loop runs, the window is up and no
    // work runs; a failure shows its message as the same failure of
    // File -> Open does.
    void OpenPictureOnceShown(const AnsiString &fileName);

    // The methods the form description may name.
    static const TPublishedMethods<TForm1> Published;

private:
    // The picture shown is now fileName's, whole or the part it holds.
    void ShowsFile(const AnsiString &fileName);
};

extern TForm1 *Form1;
