#include "platform/gui/iepicturebutton.h"

#include <QEnterEvent>
#include <QPainter>

namespace quirelle::gui {

TPictureButton::TPictureButton(const QString& objectName, const QString& text, ButtonStyle style, Glyph glyph,
                               QWidget* parent)
    : QAbstractButton(parent), style_(style), glyph_(glyph) {
    setObjectName(objectName);
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(text);
}

ButtonState TPictureButton::State() const {
    if (!isEnabled()) return ButtonState::Disabled;
    if (isDown()) return ButtonState::Pressed;
    if (hover_) return ButtonState::Hover;
    return ButtonState::Normal;
}

void TPictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintButton(p, QRectF(rect()), style_, State(), text(), glyph_);
    if (hasFocus() && isEnabled()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 170, 40), 1.5, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -3), 10, 10);
    }
}

void TPictureButton::enterEvent(QEnterEvent* event) {
    hover_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TPictureButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

TArtPicture::TArtPicture(const QString& objectName, Picture picture, QWidget* parent) : QWidget(parent), picture_(picture) {
    setObjectName(objectName);
    setFixedSize(PictureSize(picture));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TArtPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, RenderPicture(picture_, devicePixelRatioF()));
}

}  // namespace quirelle::gui
