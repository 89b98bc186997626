// The platform dialogs the wizard uses: message boxes, the folder dialog, the open-image dialog
// with a preview pane, opening an address with the desktop's handler, and the application's
// default error display. Each can be replaced by a hook (the tests answer the dialogs that way).
#pragma once

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <string>

class QWidget;

namespace quirelle {
class TImageIO;
}

namespace quirelle::gui {

// Message box flags in the Windows convention: buttons in the low bits (0 OK, 1 OK and Cancel),
// icon in bits 4-6 (0x10 error, 0x20 question, 0x30 warning, 0x40 information).
inline constexpr int MB_OK = 0x00, MB_OKCANCEL = 0x01, MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20,
                     MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1, IDCANCEL = 2;

struct TDialogHooks {
    std::function<int(const QString& text, const QString& caption, int flags)> MessageBox;
    std::function<bool(std::string& folder, const QString& title)> BrowseForFolder;
    std::function<QString(const QString& filter)> OpenImage;
    std::function<bool(const QString& address)> OpenUrl;
};
// Hooks in effect; empty members use the real dialogs.
TDialogHooks& DialogHooks();

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, int flags);
// Shows the folder dialog preselecting folder; on confirmation folder receives the choice.
bool BrowseForFolder(QWidget* owner, std::string& folder, const QString& title);
// The open-image dialog: file filter from the format registry, a preview of the selected file.
// Returns the chosen path or an empty text.
QString ExecuteOpenDialog(QWidget* owner, const QString& filter);
bool OpenUrl(const QString& address);
// The application's default error display: a message box with the error's text.
void ShowApplicationError(QWidget* owner, const std::exception& error);

// Runs a handler, sending an exception it raises to the default error display instead of letting
// it unwind through the toolkit.
template <typename F>
void Protect(QWidget* owner, F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowApplicationError(owner, e);
    }
}

}  // namespace quirelle::gui
