// The open and save picture dialogs. They stand on a form as hidden
// components and show Qt's own file dialog when executed.
#pragma once

#include "platform/base/strings_and_errors.h"

#include <QWidget>

class TPictureDialog : public QWidget {
    Q_OBJECT

public:
    AnsiString GetFileName() const { return fileName_; }
    void SetFileName(const AnsiString &fileName) { fileName_ = fileName; }
    // Shows the dialog modally; true when the user chose a file.
    bool Execute();

protected:
    enum class Purpose { Open, Save };
    TPictureDialog(QWidget *parent, Purpose purpose);

private:
    Purpose purpose_;
    AnsiString fileName_;
};

class TOpenPictureDialog : public TPictureDialog {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QWidget *parent = nullptr) : TPictureDialog(parent, Purpose::Open) {}
};

class TSavePictureDialog : public TPictureDialog {
    Q_OBJECT
public:
    explicit TSavePictureDialog(QWidget *parent = nullptr) : TPictureDialog(parent, Purpose::Save) {}
};
