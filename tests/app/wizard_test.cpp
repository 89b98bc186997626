// The wizard driven through its real widgets on the offscreen platform. The platform dialogs are
// answered through their hooks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <fstream>

#include "acquire/iexAcquire.h"
#include "app/umain.h"
#include "io/ieengine.h"
#include "io/imageio.h"
#include "platform/gui/iedialogs.h"
#include "platform/gui/ieimageview.h"
#include "platform/gui/iemessagequeue_qt.h"
#include "platform/gui/iepicturebutton.h"
#include "tests/support/render.h"
#include "tests/support/testsupport.h"

namespace quirelle {
namespace {

using test::ScratchDir;

// Environment of one test: a home folder of its own, dialogs answered by the test.
class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<ScratchDir>();
        setenv("HOME", home_->Path().c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        unsetenv("XDG_CONFIG_HOME");
        messages_.clear();
        gui::DialogHooks() = {};
        gui::DialogHooks().MessageBox = [this](const QString& text, const QString& caption, int flags) {
            messages_.push_back(text.toStdString());
            captions_.push_back(caption.toStdString());
            flags_.push_back(flags);
            return answer_;
        };
        gui::DialogHooks().OpenUrl = [this](const QString& address) {
            opened_ = address.toStdString();
            return true;
        };
    }
    void TearDown() override {
        gui::DialogHooks() = {};
        form_.reset();
    }
    Tmainform& Form() {
        if (!form_) {
            form_ = std::make_unique<Tmainform>();
            form_->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        }
        return *form_;
    }
    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    std::string Docs() const { return home_->Path().string(); }
    std::string Text(const std::filesystem::path& p) const {
        const auto b = test::ReadFileBytes(p);
        return std::string(b.begin(), b.end());
    }

    std::unique_ptr<ScratchDir> home_;
    std::unique_ptr<Tmainform> form_;
    std::vector<std::string> messages_, captions_;
    std::vector<int> flags_;
    int answer_ = gui::IDOK;
    std::string opened_;
};

TEST_F(Wizard, StartsOnPageOneWithPdfA4AndRle) {
    Tmainform& f = Form();
    EXPECT_EQ(f.CurrentPage(), 1);
    EXPECT_TRUE(f.Page1->isVisible());
    EXPECT_FALSE(f.btnChoosePDF->isEnabled());  // the chosen kind's button is the disabled one
    EXPECT_TRUE(f.btnChoosePS->isEnabled());
    EXPECT_TRUE(f.PdfChosen());
    EXPECT_TRUE(f.imgPDF1->isVisible());
    EXPECT_FALSE(f.imgPS1->isVisible());
    EXPECT_EQ(f.EditFileName->text().toStdString(), Docs() + "/Quirelle_PDF.pdf");
    EXPECT_TRUE(f.EditFileName->isReadOnly());
    EXPECT_EQ(f.cbb1->currentIndex(), 4);
    EXPECT_EQ(f.cbb1->currentText(), "A4");
    EXPECT_EQ(f.cbb2->currentText(), "RLE");
    EXPECT_EQ(f.windowTitle(), "Quirelle 5.0.1");
    EXPECT_EQ(f.size(), QSize(861, 563));
}

TEST_F(Wizard, ComponentsSitWhereTheLayoutPutsThem) {
    Tmainform& f = Form();
    struct Place {
        QWidget* widget;
        const char* name;
        QRect geometry;
    };
    const std::vector<Place> places = {
        {f.Page1, "Page1", {40, 112, 785, 337}},       {f.Page4, "Page4", {40, 112, 785, 337}},
        {f.Page1Next, "Page1Next", {680, 496, 168, 52}}, {f.ButtonClose, "ButtonClose", {37, 504, 122, 45}},
        {f.ButtonHelp, "ButtonHelp", {741, 32, 102, 44}}, {f.btnChoosePDF, "btnChoosePDF", {60, 80, 264, 74}},
        {f.btnChoosePS, "btnChoosePS", {60, 208, 261, 69}}, {f.EditFileName, "EditFileName", {336, 61, 329, 21}},
        {f.ButtonBrowse, "ButtonBrowse", {672, 50, 107, 44}}, {f.cbb1, "cbb1", {336, 152, 145, 21}},
        {f.cbb2, "cbb2", {336, 240, 145, 21}},           {f.ImageView1, "ImageView1", {48, 36, 417, 293}},
        {f.Button2, "Button2", {476, 64, 230, 78}},       {f.Button3, "Button3", {476, 184, 257, 78}},
    };
    for (const Place& p : places) {
        EXPECT_EQ(p.widget->objectName().toStdString(), p.name);
        EXPECT_EQ(p.widget->geometry(), p.geometry) << p.name;
    }
    EXPECT_EQ(f.img2->pos(), QPoint(16, 16));
    EXPECT_EQ(f.imgPDF1->pos(), QPoint(344, 96));
    EXPECT_EQ(f.imgPS2->pos(), QPoint(472, 128));
    EXPECT_EQ(f.Image1->pos(), QPoint(152, 80));
    EXPECT_EQ(f.ImageView1->Background(), QColor(217, 234, 247));
    QStringList papers, compressions;
    for (int i = 0; i < f.cbb1->count(); ++i) papers << f.cbb1->itemText(i);
    for (int i = 0; i < f.cbb2->count(); ++i) compressions << f.cbb2->itemText(i);
    EXPECT_EQ(papers.join("|").toStdString(),
              "A0|A1|A2|A3|A4|A5|A6|B5|letter (8.5\"x11\")|Legal (8.5\"x14\")|ledger (17\"x11\")|11\"x17\"");
    EXPECT_EQ(compressions.join("|").toStdString(), "RLE|G3Fax|G4Fax|Jpeg");
}

TEST(WizardPaths, DocumentsFolderFromXdgThenHome) {
    ScratchDir home;
    setenv("HOME", home.Path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_DOCUMENTS_DIR", "/data/docs", 1);
    EXPECT_EQ(ReadShellFolder("Personal"), "/data/docs");
    unsetenv("XDG_DOCUMENTS_DIR");
    std::filesystem::create_directories(home / ".config");
    std::ofstream(home / ".config" / "user-dirs.dirs") << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                       << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(ReadShellFolder("Personal"), home.Path().string() + "/Dokumente");
    std::filesystem::remove(home / ".config" / "user-dirs.dirs");
    EXPECT_EQ(ReadShellFolder("Personal"), home.Path().string());
    unsetenv("HOME");
    EXPECT_EQ(ReadShellFolder("Personal"), "/");
    setenv("HOME", home.Path().c_str(), 1);
}

TEST(WizardPaths, SeparatorsNamesAndUniqueFileNames) {
    EXPECT_EQ(WithTrailingBackslash("/home/ann/Documents"), "/home/ann/Documents/");
    EXPECT_EQ(WithTrailingBackslash("/home/ann/Documents/"), "/home/ann/Documents/");
    EXPECT_EQ(WithTrailingBackslash("/"), "/");
    EXPECT_EQ(NameWithoutExtension("Quirelle_PDF.pdf"), "Quirelle_PDF");
    EXPECT_EQ(NameWithoutExtension("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(NameWithoutExtension("README"), "README");
    ScratchDir dir;
    const std::string path = (dir / "Quirelle_PDF.pdf").string();
    EXPECT_EQ(MakeUniqueFileName(path), path);
    test::WriteFileBytes(path, {1});
    EXPECT_EQ(MakeUniqueFileName(path), (dir / "Quirelle_PDF(1).pdf").string());
    test::WriteFileBytes(dir / "Quirelle_PDF(1).pdf", {1});
    test::WriteFileBytes(dir / "Quirelle_PDF(2).pdf", {1});
    EXPECT_EQ(MakeUniqueFileName(path), (dir / "Quirelle_PDF(3).pdf").string());
    test::WriteFileBytes(dir / "noext", {1});
    EXPECT_EQ(MakeUniqueFileName((dir / "noext").string()), (dir / "noext(1)").string());
}

TEST_F(Wizard, ChoosingAKindSetsItsPathAndBrowseKeepsOneSeparator) {
    setenv("XDG_DOCUMENTS_DIR", (Docs() + "/").c_str(), 1);  // a folder value ending with "/"
    Tmainform& f = Form();
    EXPECT_EQ(f.EditFileName->text().toStdString(), Docs() + "/Quirelle_PDF.pdf");
    Click(f.btnChoosePS);
    EXPECT_FALSE(f.PdfChosen());
    EXPECT_FALSE(f.btnChoosePS->isEnabled());
    EXPECT_TRUE(f.imgPS2->isVisible());
    EXPECT_EQ(f.EditFileName->text().toStdString(), Docs() + "/Quirelle_PS.ps");
    Click(f.Page1Next);
    EXPECT_EQ(f.CurrentPage(), 2);
    gui::DialogHooks().BrowseForFolder = [](std::string& folder, const QString& title) {
        EXPECT_EQ(title.toStdString(), "Please select a folder");
        folder = "/";
        return true;
    };
    Click(f.ButtonBrowse);
    EXPECT_EQ(f.EditFileName->text().toStdString(), "/Quirelle_PS.ps");
    gui::DialogHooks().BrowseForFolder = [](std::string&, const QString&) { return false; };  // cancelled
    Click(f.ButtonBrowse);
    EXPECT_EQ(f.EditFileName->text().toStdString(), "/Quirelle_PS.ps");
    f.btnChoosePDFClick();  // choosing a kind discards the folder chosen with Browse
    EXPECT_EQ(f.EditFileName->text().toStdString(), Docs() + "/Quirelle_PDF.pdf");
}

// Writes a small colour PPM file.
std::filesystem::path MakePpm(const std::filesystem::path& dir, const std::string& name) {
    std::string data = "P6 40 30 255\n";
    for (int i = 0; i < 40 * 30; ++i) data += std::string{char(i % 256), char(100), char(200)};
    test::WriteFileBytes(dir / name, std::vector<uint8_t>(data.begin(), data.end()));
    return dir / name;
}

void QpdfPages(const std::filesystem::path& file, int pages) {
    if (!test::HaveProgram("qpdf")) return;
    std::string out;
    EXPECT_EQ(test::RunCommand("qpdf --check " + test::ShellQuote(file.string()), &out), 0) << out;
    EXPECT_EQ(test::RunCommand("qpdf --show-npages " + test::ShellQuote(file.string()), &out), 0);
    EXPECT_EQ(out, std::to_string(pages) + "\n") << file;
}

TEST_F(Wizard, AddingPagesFromFilesWithTheChosenCompression) {
    Tmainform& f = Form();
    Click(f.Page1Next);
    f.cbb1->setCurrentIndex(8);  // letter
    f.cbb2->setCurrentIndex(1);  // G3Fax
    Click(f.Page2Next);
    EXPECT_EQ(f.CurrentPage(), 3);
    EXPECT_EQ(f.IO().Params().PdfMediaWidth, 612);
    EXPECT_EQ(f.ImageView1->IEBitmap().Width(), 1);  // the preview was cleared
    const auto image = MakePpm(home_->Path(), "photo.ppm");
    gui::DialogHooks().OpenImage = [&](const QString& filter) {
        EXPECT_TRUE(filter.contains("*.ppm"));
        return QString::fromStdString(image.string());
    };
    Click(f.Button2);
    Click(f.Button2);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(f.IO().Params().PdfImageCoding, 3);  // G3Fax is PDF code 3
    EXPECT_EQ(f.ImageView1->IEBitmap().Width(), 40);  // the preview shows the page
    gui::DialogHooks().OpenImage = [](const QString&) { return QString(); };  // cancelled
    Click(f.Button2);
    Click(f.Page3Next);
    EXPECT_EQ(f.CurrentPage(), 4);
    QpdfPages(home_->Path() / "Quirelle_PDF.pdf", 2);
    EXPECT_NE(Text(home_->Path() / "Quirelle_PDF.pdf").find("/MediaBox [0 0 612 792 ]"), std::string::npos);

    // "Another!" and the same settings: the next document gets the next free name, PostScript
    // this time with G4Fax (PostScript code 1).
    Click(f.Page4Next);
    EXPECT_EQ(f.CurrentPage(), 1);
    Click(f.btnChoosePS);
    Click(f.Page1Next);
    f.cbb2->setCurrentIndex(2);
    Click(f.Page2Next);
    gui::DialogHooks().OpenImage = [&](const QString&) { return QString::fromStdString(image.string()); };
    Click(f.Button2);
    EXPECT_EQ(f.IO().Params().PsImageCoding, 1);
    Click(f.Page3Next);
    EXPECT_NE(Text(home_->Path() / "Quirelle_PS.ps").find("%%Pages: 1     "), std::string::npos);
    Click(f.Page4Next);
    Click(f.btnChoosePDF);
    Click(f.Page1Next);
    Click(f.Page2Next);
    Click(f.Page3Next);  // no pages: an empty document
    QpdfPages(home_->Path() / "Quirelle_PDF(1).pdf", 0);
}

TEST_F(Wizard, AFileThatCannotBeLoadedIsReportedAndAddsNoPage) {
    Tmainform& f = Form();
    Click(f.Page1Next);
    Click(f.Page2Next);
    test::WriteFileBytes(home_->Path() / "broken.ppm", {'P', '6', ' ', '9'});
    test::WriteFileBytes(home_->Path() / "notes.xyz", {'h', 'i'});
    for (const char* name : {"broken.ppm", "notes.xyz"}) {
        const std::string path = (home_->Path() / name).string();
        gui::DialogHooks().OpenImage = [&](const QString&) { return QString::fromStdString(path); };
        messages_.clear();
        Click(f.Button2);
        ASSERT_EQ(messages_.size(), 1u) << name;
        EXPECT_EQ(messages_[0].rfind("Cannot load " + path + ": ", 0), 0u) << messages_[0];
        EXPECT_EQ(captions_[0], "Quirelle");
    }
    Click(f.Page3Next);
    QpdfPages(home_->Path() / "Quirelle_PDF.pdf", 0);
}

TEST_F(Wizard, EngineErrorsReachTheErrorDisplayAndTheWizardStaysUsable) {
    setenv("XDG_DOCUMENTS_DIR", (Docs() + "/missing/folder").c_str(), 1);
    Tmainform& f = Form();
    Click(f.Page1Next);
    Click(f.Page2Next);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Cannot create file \"" + Docs() + "/missing/folder/Quirelle_PDF.pdf\". No such file or directory");
    EXPECT_EQ(flags_[0], gui::MB_OK | gui::MB_ICONERROR);
    EXPECT_EQ(f.CurrentPage(), 3);
    EXPECT_FALSE(f.IO().PdfDocumentOpen());
    // Adding and finishing without a document do nothing; the wizard carries on.
    gui::DialogHooks().OpenImage = [&](const QString&) { return QString::fromStdString(MakePpm(home_->Path(), "a.ppm").string()); };
    Click(f.Button2);
    Click(f.Page3Next);
    EXPECT_EQ(f.CurrentPage(), 4);
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(Wizard, ScannerButtonReportsThatNoDeviceWasFound) {
    Tmainform& f = Form();
    Click(f.Page1Next);
    Click(f.Page2Next);
    Click(f.Button3);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "No acquisition devices could be located on your computer.");
    Click(f.Page3Next);
    QpdfPages(home_->Path() / "Quirelle_PDF.pdf", 0);
}

TEST_F(Wizard, CloseAsksFirstAndHelpOpensTheHelpPage) {
    Tmainform& f = Form();
    answer_ = gui::IDCANCEL;
    Click(f.ButtonClose);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Are you sure you want to exit Quirelle?");
    EXPECT_EQ(captions_[0], "Quirelle");
    EXPECT_EQ(flags_[0], 33);
    EXPECT_TRUE(f.isVisible());
    answer_ = gui::IDOK;
    Click(f.ButtonClose);
    EXPECT_FALSE(f.isVisible());
    Click(f.ButtonHelp);
    EXPECT_EQ(opened_, HelpPageAddress());
    EXPECT_NE(opened_.find("help.html"), std::string::npos);
}

TEST_F(Wizard, ClosingWithAnOpenDocumentCompletesIt) {
    {
        Tmainform& f = Form();
        Click(f.Page1Next);
        Click(f.Page2Next);
        gui::DialogHooks().OpenImage = [&](const QString&) { return QString::fromStdString(MakePpm(home_->Path(), "a.ppm").string()); };
        Click(f.Button2);
        form_.reset();
    }
    QpdfPages(home_->Path() / "Quirelle_PDF.pdf", 1);
}

TEST_F(Wizard, ScreenshotsOfEveryPage) {
    Tmainform& f = Form();
    const std::filesystem::path shots = std::filesystem::path(QUIRELLE_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(shots);
    auto grab = [&](const std::string& name) {
        const QImage image = f.grab().toImage();
        EXPECT_EQ(image.size(), QSize(861, 563) * image.devicePixelRatio());
        EXPECT_TRUE(image.save(QString::fromStdString((shots / name).string())));
    };
    grab("page1-pdf.png");
    f.btnChoosePSClick();
    grab("page1-ps.png");
    Click(f.Page1Next);
    grab("page2.png");
    Click(f.Page2Next);
    gui::DialogHooks().OpenImage = [&](const QString&) { return QString::fromStdString(MakePpm(home_->Path(), "a.ppm").string()); };
    Click(f.Button2);
    grab("page3.png");
    Click(f.Page3Next);
    grab("page4.png");
}

}  // namespace
}  // namespace quirelle

int main(int argc, char** argv) {
    // The tests drive real widgets without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quirelle"));
    quirelle::IEInitializeEngine();
    quirelle::IEInstallAcquisition();
    quirelle::gui::InstallQtMessageQueue();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
