// The open and save picture dialogs.
#include "platform/controls/picture_dialogs.h"

#include "platform/files/picture_files.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

TPictureDialog::TPictureDialog(QWidget *parent, Purpose purpose) : QWidget(parent), purpose_(purpose)
{
    setVisible(false);
}

bool TPictureDialog::Execute()
{
    const bool open = purpose_ == Purpose::Open;
    // Qt's own dialog, the same on every desktop, so that it can be driven
    // like any other window.
    QFileDialog dialog(window(), open ? tr("Open") : tr("Save As"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(open ? OpenPictureFilters() : SavePictureFilters());
    // Start in the last file's folder. The file itself is not selected: Qt
    // would keep it selected beside a newly typed name and take it first.
    // Save proposes its name in the name box alone, where typing replaces it.
    if (!fileName_.isEmpty()) {
        dialog.setDirectory(QFileInfo(fileName_).absolutePath());
        auto *nameBox = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        auto *list = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
        if (!open && nameBox && list) {
            nameBox->setText(QFileInfo(fileName_).fileName());
            // Once the folder has loaded, Qt selects the proposed file in
            // the list, and a selection wins over typed text; an edit of the
            // name drops it (a typed name of a listed file is taken all the same).
            QObject::connect(nameBox, &QLineEdit::textEdited, &dialog, [list] { list->clearSelection(); });
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName_ = dialog.selectedFiles().constFirst();
    return true;
}
