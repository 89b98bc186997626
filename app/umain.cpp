#include "app/umain.h"

#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <cstdlib>
#include <fstream>

#include "acquire/iexAcquire.h"
#include "io/imageio.h"
#include "platform/gui/iedialogs.h"
#include "platform/gui/ieimageview.h"
#include "platform/gui/iepicturebutton.h"

namespace quirelle {


// ---------------------------------------------------------------------------------------------
// Paths

std::string WithTrailingBackslash(const std::string& folder) {
    // The Windows separator's role is taken by "/".
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

std::string NameWithoutExtension(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return fileName;
    return fileName.substr(0, dot);
}

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Expands "$HOME" and "${HOME}" at the start of a user-dirs.dirs value.
std::string ExpandHome(std::string value, const std::string& home) {
    if (value.rfind("$HOME", 0) == 0)
        value = home + value.substr(5);
    else if (value.rfind("${HOME}", 0) == 0)
        value = home + value.substr(7);
    return value;
}

std::string XdgDocumentsFromUserDirs(const std::string& home) {
    std::string configHome;
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c)
        configHome = c;
    else if (!home.empty())
        configHome = home + "/.config";
    if (configHome.empty()) return "";
    std::ifstream in(configHome + "/user-dirs.dirs");
    for (std::string line; std::getline(in, line);) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        if (value.size() >= 2 && value.front() == '"') {
            const size_t close = value.find('"', 1);
            value = value.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        }
        return ExpandHome(value, home);
    }
    return "";
}

}  // namespace

std::string MakeUniqueFileName(const std::string& path) {
    if (!Exists(path)) return path;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string stem = NameWithoutExtension(name);
    const std::string extension = name.substr(stem.size());
    const std::string base = folder.empty() ? "" : WithTrailingBackslash(folder);
    int n = 1;
    std::string candidate;
    for (; n < 0x8000; ++n) {
        candidate = base + stem + "(" + std::to_string(n) + ")" + extension;
        if (!Exists(candidate)) return candidate;
    }
    return base + stem + "(" + std::to_string(n) + ")" + extension;
}

std::string ReadShellFolder(const std::string& name) {
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv ? homeEnv : "";
    if (name == "Personal") {
        if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env && *env) return ExpandHome(env, home);
        const std::string fromFile = XdgDocumentsFromUserDirs(home);
        if (!fromFile.empty()) return fromFile;
    }
    return home.empty() ? "/" : home;
}

std::string HelpPageAddress() {
    // The help page installed with the program, else the copy in the source tree.
    for (const QString& candidate :
         {QCoreApplication::applicationDirPath() + "/../share/doc/quirelle/help.html",
          QStringLiteral(QUIRELLE_SOURCE_DIR "/docs/help.html")}) {
        if (QFile::exists(candidate)) return QUrl::fromLocalFile(QDir::cleanPath(candidate)).toString().toStdString();
    }
    return "https://quirelle.org/help/";
}

// ---------------------------------------------------------------------------------------------
// The form

namespace {

// The background artwork of the window.
class TBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        gui::PaintWindowBackground(p, size());
    }
};

QFrame* MakePage(const QString& name, QWidget* parent) {
    auto* page = new QFrame(parent);
    page->setObjectName(name);
    page->setFrameShape(QFrame::NoFrame);
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, gui::kPageColor);
    page->setPalette(palette);
    page->setGeometry(40, 112, 785, 337);
    return page;
}

}  // namespace

Tmainform::Tmainform(QWidget* parent) : QWidget(parent) {
    using gui::ButtonStyle;
    using gui::Glyph;
    using gui::Picture;
    using gui::TArtPicture;
    using gui::TPictureButton;

    setObjectName(QStringLiteral("mainform"));
    setWindowTitle(QStringLiteral("Quirelle 5.0.1"));
    setFixedSize(861, 563);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(gui::ArtFont(11));

    imgMainForm = new TBackground(this);
    imgMainForm->setObjectName(QStringLiteral("imgMainForm"));
    imgMainForm->setGeometry(0, 0, 861, 563);

    Page1 = MakePage(QStringLiteral("Page1"), this);
    Page2 = MakePage(QStringLiteral("Page2"), this);
    Page3 = MakePage(QStringLiteral("Page3"), this);
    Page4 = MakePage(QStringLiteral("Page4"), this);

    Page1Next = new TPictureButton(QStringLiteral("Page1Next"), tr("Next"), ButtonStyle::Primary, Glyph::Arrow, this);
    Page2Next = new TPictureButton(QStringLiteral("Page2Next"), tr("Next"), ButtonStyle::Primary, Glyph::Arrow, this);
    Page3Next = new TPictureButton(QStringLiteral("Page3Next"), tr("Next"), ButtonStyle::Primary, Glyph::Arrow, this);
    Page4Next = new TPictureButton(QStringLiteral("Page4Next"), tr("Another!"), ButtonStyle::Primary, Glyph::Arrow, this);
    for (TPictureButton* next : {Page1Next, Page2Next, Page3Next, Page4Next}) next->setGeometry(680, 496, 168, 52);
    ButtonClose = new TPictureButton(QStringLiteral("ButtonClose"), tr("Close"), ButtonStyle::Secondary, Glyph::Close, this);
    ButtonClose->setGeometry(37, 504, 122, 45);
    ButtonHelp = new TPictureButton(QStringLiteral("ButtonHelp"), tr("Help"), ButtonStyle::Secondary, Glyph::Help, this);
    ButtonHelp->setGeometry(741, 32, 102, 44);

    // Page 1: the output kind.
    img2 = new TArtPicture(QStringLiteral("img2"), Picture::SelectFormatHeading, Page1);
    img2->move(16, 16);
    btnChoosePDF = new TPictureButton(QStringLiteral("btnChoosePDF"), tr("Adobe PDF"), ButtonStyle::Choice, Glyph::Pdf, Page1);
    btnChoosePDF->setGeometry(60, 80, 264, 74);
    btnChoosePS = new TPictureButton(QStringLiteral("btnChoosePS"), tr("PostScript"), ButtonStyle::Choice, Glyph::PostScript, Page1);
    btnChoosePS->setGeometry(60, 208, 261, 69);
    imgPDF1 = new TArtPicture(QStringLiteral("imgPDF1"), Picture::PdfLogo, Page1);
    imgPDF1->move(344, 96);
    imgPDF2 = new TArtPicture(QStringLiteral("imgPDF2"), Picture::PdfDescription, Page1);
    imgPDF2->move(472, 120);
    imgPS1 = new TArtPicture(QStringLiteral("imgPS1"), Picture::PsLogo, Page1);
    imgPS1->move(344, 232);
    imgPS2 = new TArtPicture(QStringLiteral("imgPS2"), Picture::PsDescription, Page1);
    imgPS2->move(472, 128);

    // Page 2: output file, paper and compression.
    imgTitle = new TArtPicture(QStringLiteral("imgTitle"), Picture::OutputLabels, Page2);
    imgTitle->move(96, 48);
    EditFileName = new QLineEdit(QString::fromLatin1(kDefaultPdfName), Page2);
    EditFileName->setObjectName(QStringLiteral("EditFileName"));
    EditFileName->setGeometry(336, 61, 329, 21);
    EditFileName->setReadOnly(true);
    ButtonBrowse = new TPictureButton(QStringLiteral("ButtonBrowse"), tr("Browse..."), ButtonStyle::Browse, Glyph::None, Page2);
    ButtonBrowse->setGeometry(672, 50, 107, 44);
    cbb1 = new QComboBox(Page2);
    cbb1->setObjectName(QStringLiteral("cbb1"));
    cbb1->setGeometry(336, 152, 145, 21);
    for (const TPaperSize& paper : PaperSizes) cbb1->addItem(QString::fromLatin1(paper.Name));
    cbb2 = new QComboBox(Page2);
    cbb2->setObjectName(QStringLiteral("cbb2"));
    cbb2->setGeometry(336, 240, 145, 21);
    for (const char* item : CompressionChoices) cbb2->addItem(QString::fromLatin1(item));

    // Page 3: the preview and the two ways to add a page.
    ImageView1 = new gui::TImageView(QStringLiteral("ImageView1"), Page3);
    ImageView1->setGeometry(48, 36, 417, 293);
    ImageView1->SetBackground(gui::kPageColor);
    Button2 = new TPictureButton(QStringLiteral("Button2"), tr("New Page from File..."), ButtonStyle::Action, Glyph::File, Page3);
    Button2->setGeometry(476, 64, 230, 78);
    Button3 = new TPictureButton(QStringLiteral("Button3"), tr("New Page from Scanner..."), ButtonStyle::Action, Glyph::Scanner, Page3);
    Button3->setGeometry(476, 184, 257, 78);

    // Page 4: done.
    Image1 = new TArtPicture(QStringLiteral("Image1"), Picture::Finish, Page4);
    Image1->move(152, 80);

    auto bind = [this](gui::TPictureButton* button, void (Tmainform::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { gui::Protect(this, [&] { (this->*handler)(); }); });
    };
    bind(btnChoosePDF, &Tmainform::btnChoosePDFClick);
    bind(btnChoosePS, &Tmainform::btnChoosePSClick);
    bind(Page1Next, &Tmainform::Page1NextClick);
    bind(Page2Next, &Tmainform::Page2NextClick);
    bind(Page3Next, &Tmainform::Page3NextClick);
    bind(Page4Next, &Tmainform::Page4NextClick);
    bind(ButtonBrowse, &Tmainform::ButtonBrowseClick);
    bind(Button2, &Tmainform::Button2Click);
    bind(Button3, &Tmainform::Button3Click);
    bind(ButtonClose, &Tmainform::ButtonCloseClick);
    bind(ButtonHelp, &Tmainform::ButtonHelpClick);

    // The acquisition front end reports through this window.
    AcquireUi().ShowError = [this](const std::string& text) {
        gui::ShowMessageBox(this, QString::fromStdString(text), QApplication::applicationName(), gui::MB_OK | gui::MB_ICONERROR);
    };

    // Centred on the desktop.
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

Tmainform::~Tmainform() { AcquireUi().ShowError = nullptr; }

TImageIO& Tmainform::IO() { return ImageView1->IO(); }

bool Tmainform::PdfChosen() const {
    // The output kind is the enabled state of the choice buttons: an enabled PDF button means
    // PostScript is chosen.
    return !btnChoosePDF->isEnabled();
}

std::string Tmainform::DefaultPath(bool pdf) const {
    return WithTrailingBackslash(ReadShellFolder("Personal")) + (pdf ? kDefaultPdfName : kDefaultPsName);
}

void Tmainform::ShowPage(int page) {
    QFrame* pages[4] = {Page1, Page2, Page3, Page4};
    gui::TPictureButton* nexts[4] = {Page1Next, Page2Next, Page3Next, Page4Next};
    currentPage_ = page;
    // The page in front is raised; the ones behind are hidden too, so that keyboard focus never
    // lands on a button nobody can see.
    for (int i = 0; i < 4; ++i) {
        pages[i]->setVisible(i + 1 == page);
        nexts[i]->setVisible(i + 1 == page);
    }
    pages[page - 1]->raise();
    nexts[page - 1]->raise();
}

void Tmainform::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!activated_) FormActivate();
}

void Tmainform::FormActivate() {
    if (activated_) return;
    activated_ = true;
    for (QFrame* page : {Page1, Page2, Page3, Page4}) page->move(40, 112);
    cbb1->setCurrentIndex(kDefaultPaperIndex);
    cbb2->setCurrentIndex(0);
    btnChoosePDFClick();
    ShowPage(1);
}

void Tmainform::btnChoosePDFClick() {
    btnChoosePDF->setEnabled(false);
    btnChoosePS->setEnabled(true);
    imgPDF1->setVisible(true);
    imgPDF2->setVisible(true);
    imgPS1->setVisible(false);
    imgPS2->setVisible(false);
    EditFileName->setText(QString::fromStdString(DefaultPath(true)));
}

void Tmainform::btnChoosePSClick() {
    btnChoosePDF->setEnabled(true);
    btnChoosePS->setEnabled(false);
    imgPDF1->setVisible(false);
    imgPDF2->setVisible(false);
    imgPS1->setVisible(true);
    imgPS2->setVisible(true);
    EditFileName->setText(QString::fromStdString(DefaultPath(false)));
}

void Tmainform::Page1NextClick() { ShowPage(2); }

void Tmainform::ButtonBrowseClick() {
    std::string folder;
    if (!gui::BrowseForFolder(this, folder, tr("Please select a folder"))) return;
    EditFileName->setText(QString::fromStdString(WithTrailingBackslash(folder) + (PdfChosen() ? kDefaultPdfName : kDefaultPsName)));
}

void Tmainform::Page2NextClick() {
    ShowPage(3);
    const TPaperSize& paper = PaperSizes.at(static_cast<size_t>(std::max(0, cbb1->currentIndex())));
    const std::string path = MakeUniqueFileName(EditFileName->text().toStdString());
    TImageIO& io = IO();
    if (PdfChosen()) {
        io.Params().PdfMediaWidth = paper.Width;
        io.Params().PdfMediaHeight = paper.Height;
        io.BeginPdfDocument(path);
    } else {
        io.Params().PsMediaWidth = paper.Width;
        io.Params().PsMediaHeight = paper.Height;
        io.BeginPsDocument(path);
    }
    ImageView1->Clear();
}

void Tmainform::AddCurrentImageAsPage() {
    const size_t choice = static_cast<size_t>(std::max(0, cbb2->currentIndex()));
    TImageIO& io = IO();
    if (PdfChosen()) {
        io.Params().PdfImageCoding = PdfCodingForChoice.at(choice);
        io.AddPdfPage();
    } else {
        io.Params().PsImageCoding = PsCodingForChoice.at(choice);
        io.AddPsPage();
    }
}

void Tmainform::Button2Click() {
    const QString path = gui::ExecuteOpenDialog(this, QString());
    if (path.isEmpty()) return;
    TImageIO& io = IO();
    const std::string file = path.toStdString();
    // A file that cannot be loaded is reported and adds no page (rather than appending whatever
    // the buffer held before).
    std::string reason;
    try {
        io.LoadFile(file, -1);
        if (io.CancelRequested) reason = io.LastError.empty() ? "damaged or truncated image" : io.LastError;
    } catch (const std::exception& e) {
        reason = e.what();
    }
    ImageView1->Update();
    if (!reason.empty()) {
        gui::ShowMessageBox(this, tr("Cannot load %1: %2").arg(path, QString::fromStdString(reason)),
                            QApplication::applicationName(), gui::MB_OK | gui::MB_ICONERROR);
        return;
    }
    AddCurrentImageAsPage();
}

void Tmainform::Button3Click() {
    TImageIO& io = IO();
    if (!io.SelectAcquireSource(3)) return;
    if (!io.Acquire(false)) return;
    ImageView1->Update();
    AddCurrentImageAsPage();
}

void Tmainform::Page3NextClick() {
    ShowPage(4);
    if (PdfChosen())
        IO().EndPdfDocument();
    else
        IO().EndPsDocument();
}

void Tmainform::Page4NextClick() { ShowPage(1); }

void Tmainform::ButtonCloseClick() {
    const QString title = QApplication::applicationName();
    if (gui::ShowMessageBox(this, QStringLiteral("Are you sure you want to exit ") + title + QStringLiteral("?"), title,
                            gui::MB_OKCANCEL | gui::MB_ICONQUESTION) == gui::IDOK)
        close();
}

void Tmainform::ButtonHelpClick() { gui::OpenUrl(QString::fromStdString(HelpPageAddress())); }

}  // namespace quirelle
