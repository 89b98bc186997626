// A picture button: painted artwork with normal, hover, pressed and disabled states and the hand
// cursor. The wizard's two choice buttons use their enabled state as the output-kind flag, so the
// disabled picture of a choice button shows it as selected.
#pragma once

#include <QAbstractButton>

#include "platform/gui/ieartwork.h"

namespace quirelle::gui {

class TPictureButton : public QAbstractButton {
    Q_OBJECT
public:
    TPictureButton(const QString& objectName, const QString& text, ButtonStyle style, Glyph glyph, QWidget* parent);
    QSize sizeHint() const override { return size(); }
    ButtonState State() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ButtonStyle style_;
    Glyph glyph_;
    bool hover_ = false;
};

// A picture of the artwork (heading, logo, description), repainted crisply at any scale.
class TArtPicture : public QWidget {
    Q_OBJECT
public:
    TArtPicture(const QString& objectName, Picture picture, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Picture picture_;
};

}  // namespace quirelle::gui
