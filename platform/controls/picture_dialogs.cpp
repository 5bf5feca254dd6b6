// The open and save picture dialogs.
#include "platform/controls/picture_dialogs.h"

#include "platform/files/picture_files.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <sys/statvfs.h>

namespace {

// Icons and type names from what a file is, never from its contents: Qt's
// own provider asks the MIME database, which reads a file it cannot name
// by its extension, and reading a device or a kernel file such as
// /proc/kmsg can wait for good.
class TNameOnlyIconProvider : public QFileIconProvider {
public:
    TNameOnlyIconProvider() { setOptions(DontUseCustomDirectoryIcons); }
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override { return icon(info.isDir() ? Folder : File); }
    QString type(const QFileInfo &info) const override
    {
        if (info.isDir()) return QStringLiteral("Folder");
        if (!info.isFile()) return QStringLiteral("Special file");
        return info.suffix().isEmpty() ? QStringLiteral("File") : info.suffix().toUpper() + QStringLiteral(" file");
    }
};

// A folder of no real storage (/proc, /sys): a place a failed save may
// leave behind, but not one to open the next dialog in. Asked of the file
// system itself, not of the mount table, which under a changed root need
// not list the mount that holds the folder.
bool OnRealStorage(const QString &folder)
{
    struct statvfs storage {};
    return ::statvfs(QFile::encodeName(folder).constData(), &storage) == 0 && storage.f_blocks > 0;
}

} // namespace

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
    TNameOnlyIconProvider icons;
    dialog.setIconProvider(&icons);
    // Start in the last file's folder. The file itself is not selected: Qt
    // would keep it selected beside a newly typed name and take it first.
    // Save proposes its name in the name box alone, where typing replaces it.
    // A folder of no storage is left for the home folder, or Qt would
    // open its last visited one, the same.
    if (!fileName_.isEmpty()) {
        const QString folder = QFileInfo(fileName_).absolutePath();
        dialog.setDirectory(OnRealStorage(folder) ? folder : QDir::homePath());
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
