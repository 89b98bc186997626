#include "platform/gui/ieimageview.h"

#include <QPainter>
#include <QPainterPath>

#include "io/imageio.h"

namespace quirelle::gui {

TImageView::TImageView(const QString& objectName, QWidget* parent)
    : QWidget(parent),
      legacyBitmap_(std::make_unique<TBitmap>()),
      bitmap_(std::make_unique<TIEBitmap>()),
      background_(217, 234, 247) {
    setObjectName(objectName);
    // The buffer lives in a 24-bit platform bitmap that the view attaches to it.
    legacyBitmap_->SetPixelFormat(pf24bit);
    legacyBitmap_->SetSize(1, 1);
    bitmap_->AttachVclBitmap(legacyBitmap_.get());
    Clear();
}

TImageView::~TImageView() {
    io_.reset();  // completes open documents while the buffer still exists
    bitmap_.reset();
}

TImageIO& TImageView::IO() {
    if (!io_) io_ = std::make_unique<TImageIO>(bitmap_.get(), this);
    return *io_;
}

void TImageView::SetBackground(const QColor& color) {
    background_ = color;
    update();
}

void TImageView::Clear() {
    bitmap_->Allocate(1, 1, ie24RGB);
    bitmap_->Fill(static_cast<double>(background_.red() | (background_.green() << 8) | (background_.blue() << 16)));
    Update();
}

void TImageView::EndUpdate() {
    if (updateLock_ > 0) --updateLock_;
}

void TImageView::Update() {
    shown_ = ToQImage(*bitmap_);
    update();
}

QImage TImageView::ToQImage(TIEBitmap& b) {
    const int32_t w = b.Width(), h = b.Height();
    if (w <= 0 || h <= 0) return QImage();
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) return image;
    const TIEPixelFormat format = b.Format();
    for (int32_t y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const uint8_t* row = b.RowAddress(y);
        if (!row) continue;
        if (format == ie24RGB) {
            for (int32_t x = 0; x < w; ++x) out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        } else if (format == ie1g) {
            for (int32_t x = 0; x < w; ++x) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 0xFFFFFFFF : 0xFF000000;
        } else {
            for (int32_t x = 0; x < w; ++x) {
                const BgrColor c = b.PixelAsBgr(x, y);
                out[x] = qRgb(c.r, c.g, c.b);
            }
        }
    }
    return image;
}

void TImageView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    if (shown_.isNull() || (shown_.width() == 1 && shown_.height() == 1)) return;
    // Fit to the window, keeping the aspect ratio, centred, with a soft shadow behind the picture.
    const QSizeF area = QSizeF(size()) - QSizeF(16, 16);
    const QSizeF target = QSizeF(shown_.size()).scaled(area, Qt::KeepAspectRatio);
    const QRectF r(QPointF((width() - target.width()) / 2, (height() - target.height()) / 2), target);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 5; i > 0; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 40, 70, 14));
        p.drawRoundedRect(r.adjusted(-i + 2, -i + 3, i + 2, i + 3), i, i);
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, shown_);
}

}  // namespace quirelle::gui
