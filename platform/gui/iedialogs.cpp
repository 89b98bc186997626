#include "platform/gui/iedialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace quirelle::gui {

TDialogHooks& DialogHooks() {
    static TDialogHooks hooks;
    return hooks;
}

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, int flags) {
    if (DialogHooks().MessageBox) return DialogHooks().MessageBox(text, caption, flags);
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (flags & 0x70) {
        case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    if ((flags & 0x0F) == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
}

bool BrowseForFolder(QWidget* owner, std::string& folder, const QString& title) {
    if (DialogHooks().BrowseForFolder) return DialogHooks().BrowseForFolder(folder, title);
    QFileDialog dialog(owner, title, QString::fromStdString(folder));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const QString chosen = dialog.selectedFiles().first();
    if (chosen.isEmpty()) return false;
    folder = chosen.toStdString();
    return true;
}

bool OpenUrl(const QString& address) {
    if (DialogHooks().OpenUrl) return DialogHooks().OpenUrl(address);
    return QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

void ShowApplicationError(QWidget* owner, const std::exception& error) {
    ShowMessageBox(owner, QString::fromUtf8(error.what()), QApplication::applicationName(), MB_OK | MB_ICONERROR);
}

}  // namespace quirelle::gui
