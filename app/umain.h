// Tmainform: the wizard window. Four stacked pages lead the user from the choice of the output
// kind, through the output folder, paper size and compression, to adding pages from files or
// acquisition devices, and back. Every document operation is a call on the I/O object of the
// preview view.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "io/iepapers.h"

class QComboBox;
class QFrame;
class QLineEdit;

namespace quirelle {

class TImageIO;

namespace gui {
class TPictureButton;
class TArtPicture;
class TImageView;
}  // namespace gui

inline constexpr const char* kDefaultPdfName = "Quirelle_PDF.pdf";
inline constexpr const char* kDefaultPsName = "Quirelle_PS.ps";
// The help page the Help button opens.
std::string HelpPageAddress();

// Folder with a trailing separator: the role the backslash had on Windows is taken by "/".
std::string WithTrailingBackslash(const std::string& folder);
std::string NameWithoutExtension(const std::string& fileName);
// The path itself when nothing exists there, else the first free "stem(n).ext" for n = 1 ...
// 32767, else the name with 32768 (not tested).
std::string MakeUniqueFileName(const std::string& path);
// The user's documents folder for "Personal": XDG_DOCUMENTS_DIR (environment, then
// user-dirs.dirs), else $HOME, else "/".
std::string ReadShellFolder(const std::string& name);

class Tmainform : public QWidget {
    Q_OBJECT
public:
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // The page in front (1 to 4).
    int CurrentPage() const { return currentPage_; }
    gui::TImageView* ImageView() const { return ImageView1; }
    TImageIO& IO();
    bool PdfChosen() const;

    // Event handlers, named after their control and event.
    void FormActivate();
    void btnChoosePDFClick();
    void btnChoosePSClick();
    void Page1NextClick();
    void Page2NextClick();
    void Page3NextClick();
    void Page4NextClick();
    void ButtonBrowseClick();
    void Button2Click();
    void Button3Click();
    void ButtonCloseClick();
    void ButtonHelpClick();
    void AddCurrentImageAsPage();

    // Components, named as in the form.
    QWidget* imgMainForm = nullptr;
    QFrame* Page1 = nullptr;
    QFrame* Page2 = nullptr;
    QFrame* Page3 = nullptr;
    QFrame* Page4 = nullptr;
    gui::TPictureButton* Page1Next = nullptr;
    gui::TPictureButton* Page2Next = nullptr;
    gui::TPictureButton* Page3Next = nullptr;
    gui::TPictureButton* Page4Next = nullptr;
    gui::TPictureButton* ButtonClose = nullptr;
    gui::TPictureButton* ButtonHelp = nullptr;
    gui::TArtPicture* img2 = nullptr;
    gui::TPictureButton* btnChoosePDF = nullptr;
    gui::TPictureButton* btnChoosePS = nullptr;
    gui::TArtPicture* imgPDF1 = nullptr;
    gui::TArtPicture* imgPDF2 = nullptr;
    gui::TArtPicture* imgPS1 = nullptr;
    gui::TArtPicture* imgPS2 = nullptr;
    gui::TArtPicture* imgTitle = nullptr;
    QLineEdit* EditFileName = nullptr;
    gui::TPictureButton* ButtonBrowse = nullptr;
    QComboBox* cbb1 = nullptr;
    QComboBox* cbb2 = nullptr;
    gui::TImageView* ImageView1 = nullptr;
    gui::TPictureButton* Button2 = nullptr;
    gui::TPictureButton* Button3 = nullptr;
    gui::TArtPicture* Image1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowPage(int page);
    std::string DefaultPath(bool pdf) const;
    bool activated_ = false;
    int currentPage_ = 1;
};

}  // namespace quirelle
