// The image view of the wizard's preview: it owns the image buffer (kept in a platform bitmap, as
// the legacy-bitmap view did) and, created on first use, the I/O object attached to that buffer;
// it shows the image fitted to the window on its background colour.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

#include "image/iebitmap.h"
#include "io/ioparams.h"

namespace quirelle {
class TImageIO;
}

namespace quirelle::gui {

class TImageView : public QWidget, public IImageViewLink {
    Q_OBJECT
public:
    explicit TImageView(const QString& objectName, QWidget* parent = nullptr);
    ~TImageView() override;

    TIEBitmap& IEBitmap() { return *bitmap_; }
    // The I/O object attached to this view's buffer, created on first use.
    TImageIO& IO();
    bool HasIO() const { return io_ != nullptr; }

    void SetBackground(const QColor& color);
    QColor Background() const { return background_; }
    // Makes the image 1 x 1 pixel of the background colour and repaints.
    void Clear();
    // Re-reads the buffer and repaints (after a load or an acquisition).
    void Update();
    // The picture currently shown, as the view renders it (for tests and screenshots).
    QImage CurrentImage() const { return shown_; }
    int32_t DpiX() const { return dpiX_; }
    int32_t DpiY() const { return dpiY_; }

    // IImageViewLink
    void BeginUpdate() override { ++updateLock_; }
    void EndUpdate() override;
    void SetDpiX(int32_t dpi) override { dpiX_ = dpi; }
    void SetDpiY(int32_t dpi) override { dpiY_ = dpi; }
    bool HasParentWindow() override { return parentWidget() != nullptr; }

    // Renders any buffer as a 32-bit image.
    static QImage ToQImage(TIEBitmap& bitmap);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<TBitmap> legacyBitmap_;
    std::unique_ptr<TIEBitmap> bitmap_;
    std::unique_ptr<TImageIO> io_;
    QColor background_;
    QImage shown_;
    int updateLock_ = 0;
    int32_t dpiX_ = 0, dpiY_ = 0;
};

}  // namespace quirelle::gui
