// The open-image dialog: Qt's file dialog (not the desktop's, so that it can carry a preview
// pane) with the filter built from the format registry and a preview of the selected file.
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "io/imageio.h"
#include "platform/gui/iedialogs.h"
#include "platform/gui/ieimageview.h"

namespace quirelle::gui {

namespace {

// Turns the engine's filter text ("Description (*.a;*.b)|*.a;*.b|...") into Qt name filters.
QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const int open = description.lastIndexOf(" (");
        if (open >= 0) description = description.left(open);
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), patterns);
    }
    return filters;
}

class TPreviewPane : public QWidget {
public:
    explicit TPreviewPane(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("preview"));
        auto* layout = new QVBoxLayout(this);
        picture_ = new QLabel(this);
        picture_->setFixedSize(200, 200);
        picture_->setAlignment(Qt::AlignCenter);
        picture_->setFrameShape(QFrame::StyledPanel);
        caption_ = new QLabel(this);
        caption_->setAlignment(Qt::AlignCenter);
        caption_->setWordWrap(true);
        caption_->setFixedWidth(200);
        layout->addWidget(picture_);
        layout->addWidget(caption_);
        layout->addStretch();
    }

    void Show(const QString& path) {
        picture_->clear();
        caption_->clear();
        const QFileInfo info(path);
        if (path.isEmpty() || !info.isFile()) return;
        TImageIO io;
        try {
            io.LoadFileAuto(path.toStdString());
        } catch (const std::exception& e) {
            caption_->setText(QString::fromUtf8(e.what()));
            return;
        }
        if (io.CancelRequested || io.IEBitmap()->IsEmpty()) {
            caption_->setText(io.LastError.empty() ? tr("No preview") : QString::fromStdString(io.LastError));
            return;
        }
        const QImage image = TImageView::ToQImage(*io.IEBitmap());
        const qreal dpr = devicePixelRatioF();
        QPixmap pixmap = QPixmap::fromImage(image.scaled(QSize(200, 200) * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(dpr);
        picture_->setPixmap(pixmap);
        caption_->setText(tr("%1 x %2 pixels").arg(io.IEBitmap()->Width()).arg(io.IEBitmap()->Height()));
    }

private:
    QLabel* picture_;
    QLabel* caption_;
};

}  // namespace

QString ExecuteOpenDialog(QWidget* owner, const QString& filter) {
    const QString engineFilter = filter.isEmpty() ? QString::fromStdString(TImageIO::OpenDialogFilter(false)) : filter;
    if (DialogHooks().OpenImage) return DialogHooks().OpenImage(engineFilter);
    QFileDialog dialog(owner, QObject::tr("Open image"));
    dialog.setObjectName(QStringLiteral("OpenImageDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(engineFilter));
    auto* preview = new TPreviewPane(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, [preview](const QString& path) { preview->Show(path); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
}

}  // namespace quirelle::gui
