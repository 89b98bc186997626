#include "platform/gui/ieartwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace quirelle::gui {

QFont ArtFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

namespace {

void SoftShadow(QPainter& p, const QRectF& r, qreal radius, int depth) {
    for (int i = depth; i > 0; --i) {
        QColor shade(20, 40, 70, 10);
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawRoundedRect(r.adjusted(-i * 0.5, -i * 0.5 + 1.5, i * 0.5, i * 0.5 + 1.5), radius + i * 0.5, radius + i * 0.5);
    }
}

// A document sheet with a folded corner and a coloured band carrying a short label.
void PaintDocumentGlyph(QPainter& p, const QRectF& r, const QColor& band, const QString& label) {
    const qreal fold = r.width() * 0.28;
    QPainterPath sheet;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(QPen(QColor(120, 135, 150), qMax<qreal>(1.0, r.width() / 40)));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    corner.closeSubpath();
    p.setBrush(QColor(225, 231, 238));
    p.drawPath(corner);
    // Text lines of the sheet.
    p.setPen(QPen(QColor(190, 200, 212), qMax<qreal>(1.0, r.height() / 40), Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal y = r.top() + r.height() * (0.30 + 0.1 * i);
        p.drawLine(QPointF(r.left() + r.width() * 0.15, y), QPointF(r.right() - r.width() * (i == 0 ? 0.35 : 0.15), y));
    }
    if (!label.isEmpty()) {
        const QRectF bandRect(r.left() - r.width() * 0.12, r.top() + r.height() * 0.58, r.width() * 0.9, r.height() * 0.28);
        p.setPen(Qt::NoPen);
        p.setBrush(band);
        p.drawRoundedRect(bandRect, bandRect.height() * 0.18, bandRect.height() * 0.18);
        p.setPen(Qt::white);
        p.setFont(ArtFont(qMax(6, int(bandRect.height() * 0.62)), true));
        p.drawText(bandRect, Qt::AlignCenter, label);
    }
}

void PaintScannerGlyph(QPainter& p, const QRectF& r, const QColor& ink) {
    p.setPen(QPen(ink, r.width() / 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QRectF body(r.left(), r.top() + r.height() * 0.38, r.width(), r.height() * 0.45);
    p.drawRoundedRect(body, r.width() * 0.1, r.width() * 0.1);
    // The lid, raised, and the light of the scan line.
    p.drawLine(QPointF(r.left() + r.width() * 0.05, body.top() - r.height() * 0.12),
               QPointF(r.right() - r.width() * 0.05, r.top() + r.height() * 0.08));
    p.setPen(QPen(QColor(90, 190, 240), r.width() / 14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(body.left() + body.width() * 0.18, body.center().y()),
               QPointF(body.right() - body.width() * 0.18, body.center().y()));
}

void PaintArrowGlyph(QPainter& p, const QRectF& r, const QColor& ink) {
    p.setPen(QPen(ink, r.height() / 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const qreal y = r.center().y();
    p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    p.drawLine(QPointF(r.right() - r.height() * 0.4, y - r.height() * 0.4), QPointF(r.right(), y));
    p.drawLine(QPointF(r.right() - r.height() * 0.4, y + r.height() * 0.4), QPointF(r.right(), y));
}

// The red marker that shows which output kind is chosen.
void PaintSelectionArrow(QPainter& p, const QRectF& r) {
    QPainterPath arrow;
    arrow.moveTo(r.left(), r.top() + r.height() * 0.25);
    arrow.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.25);
    arrow.lineTo(r.left() + r.width() * 0.55, r.top());
    arrow.lineTo(r.right(), r.center().y());
    arrow.lineTo(r.left() + r.width() * 0.55, r.bottom());
    arrow.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.75);
    arrow.lineTo(r.left(), r.top() + r.height() * 0.75);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kSelectionMark);
    p.drawPath(arrow);
}

void PaintGlyph(QPainter& p, Glyph glyph, const QRectF& r, const QColor& ink) {
    switch (glyph) {
        case Glyph::Pdf: PaintDocumentGlyph(p, r, QColor(200, 40, 40), QStringLiteral("PDF")); break;
        case Glyph::PostScript: PaintDocumentGlyph(p, r, QColor(40, 110, 70), QStringLiteral("PS")); break;
        case Glyph::File: PaintDocumentGlyph(p, r, kAccent, QStringLiteral("+")); break;
        case Glyph::Scanner: PaintScannerGlyph(p, r, ink); break;
        case Glyph::Arrow: PaintArrowGlyph(p, r, ink); break;
        case Glyph::Help: {
            p.setPen(QPen(ink, r.width() / 10));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(r);
            p.setFont(ArtFont(int(r.height() * 0.7), true));
            p.setPen(ink);
            p.drawText(r, Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        case Glyph::Close: {
            p.setPen(QPen(ink, r.width() / 7, Qt::SolidLine, Qt::RoundCap));
            const QRectF c = r.adjusted(r.width() * 0.2, r.height() * 0.2, -r.width() * 0.2, -r.height() * 0.2);
            p.drawLine(c.topLeft(), c.bottomRight());
            p.drawLine(c.topRight(), c.bottomLeft());
            break;
        }
        case Glyph::None: break;
    }
}

}  // namespace

void PaintButton(QPainter& p, const QRectF& rect, ButtonStyle style, ButtonState state, const QString& text, Glyph glyph) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const bool pressed = state == ButtonState::Pressed;
    const bool hover = state == ButtonState::Hover;
    const bool disabled = state == ButtonState::Disabled;
    QRectF r = rect.adjusted(3, 2, -3, -5);
    // Choice buttons keep room at their left for the marker that shows the chosen kind.
    const qreal markerWidth = style == ButtonStyle::Choice ? rect.height() * 0.42 : 0;
    r.setLeft(r.left() + markerWidth);
    if (pressed) r.translate(0, 1.5);
    const qreal radius = std::min<qreal>(12, r.height() / 2.6);

    if (!pressed) SoftShadow(p, r, radius, disabled && style != ButtonStyle::Choice ? 2 : 6);

    QColor fill, border, textColor, glyphInk;
    switch (style) {
        case ButtonStyle::Primary:
        case ButtonStyle::Browse: {
            const QColor base = pressed ? kAccentDark : hover ? kAccent.lighter(118) : kAccent;
            QLinearGradient g(r.topLeft(), r.bottomLeft());
            g.setColorAt(0, base.lighter(112));
            g.setColorAt(1, base);
            p.setBrush(disabled ? QBrush(QColor(170, 182, 196)) : QBrush(g));
            border = disabled ? QColor(160, 170, 182) : kAccentDark;
            textColor = Qt::white;
            glyphInk = Qt::white;
            break;
        }
        case ButtonStyle::Secondary: {
            fill = pressed ? QColor(222, 232, 244) : hover ? QColor(242, 248, 255) : Qt::white;
            p.setBrush(fill);
            border = disabled ? QColor(190, 198, 208) : kAccent;
            textColor = disabled ? QColor(150, 160, 172) : kAccent;
            glyphInk = textColor;
            break;
        }
        case ButtonStyle::Choice:
        case ButtonStyle::Action: {
            // A disabled choice button is the chosen kind: it looks selected, not greyed.
            const bool selected = style == ButtonStyle::Choice && disabled;
            fill = selected ? QColor(255, 255, 255) : pressed ? QColor(226, 236, 248) : hover ? QColor(250, 252, 255) : QColor(244, 248, 252);
            p.setBrush(fill);
            border = selected ? kAccent : hover ? kAccent.lighter(140) : QColor(170, 190, 212);
            textColor = selected ? kAccentDark : kInk;
            glyphInk = kAccent;
            if (style == ButtonStyle::Action && disabled) textColor = glyphInk = QColor(160, 170, 182);
            break;
        }
    }
    const bool selected = style == ButtonStyle::Choice && disabled;
    p.setPen(QPen(border, selected ? 2.5 : 1.2));
    p.drawRoundedRect(r, radius, radius);

    // Content: optional glyph at the left, then the words.
    QRectF content = r.adjusted(r.height() * 0.28, 0, -r.height() * 0.2, 0);
    if (glyph != Glyph::None) {
        const qreal g = r.height() * (style == ButtonStyle::Choice || style == ButtonStyle::Action ? 0.62 : 0.42);
        const QRectF glyphRect(content.left(), r.center().y() - g / 2, g * (glyph == Glyph::Arrow ? 1.0 : 0.82), g);
        PaintGlyph(p, glyph, glyphRect, glyphInk);
        content.setLeft(glyphRect.right() + r.height() * 0.25);
    }
    int pixelSize;
    switch (style) {
        case ButtonStyle::Primary: pixelSize = int(r.height() * 0.42); break;
        case ButtonStyle::Choice: pixelSize = int(r.height() * 0.34); break;
        case ButtonStyle::Action: pixelSize = int(r.height() * 0.24); break;
        default: pixelSize = int(r.height() * 0.38); break;
    }
    const int flags = (glyph == Glyph::None ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter |
                      (style == ButtonStyle::Action ? Qt::TextWordWrap : 0);
    if (style == ButtonStyle::Action) pixelSize = int(r.height() * 0.26);
    QFont font = ArtFont(pixelSize, true);
    // Shrink long words to fit.
    while (pixelSize > 8 && QFontMetricsF(font).boundingRect(content, flags, text).width() > content.width() + 0.5)
        font = ArtFont(--pixelSize, true);
    p.setFont(font);
    p.setPen(textColor);
    p.drawText(content, flags, text);

    if (selected) {
        const qreal h = rect.height() * 0.4;
        PaintSelectionArrow(p, QRectF(rect.left() + 1, r.center().y() - h / 2, markerWidth - 3, h));
    }
    p.restore();
}

void PaintWindowBackground(QPainter& p, const QSize& size) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(QPoint(0, 0), size), QColor(236, 242, 248));
    // Title band.
    QLinearGradient band(0, 0, size.width(), 0);
    band.setColorAt(0, QColor(19, 56, 99));
    band.setColorAt(1, QColor(37, 110, 180));
    p.fillRect(QRectF(0, 0, size.width(), 96), band);
    p.setPen(QColor(255, 255, 255, 36));
    for (int i = 0; i < 6; ++i) p.drawEllipse(QPointF(size.width() - 120 + i * 9, -40.0), 120.0 + i * 22, 120.0 + i * 22);
    // Product mark and name.
    PaintDocumentGlyph(p, QRectF(40, 22, 40, 52), QColor(212, 48, 48), QStringLiteral(" "));
    p.setPen(Qt::white);
    p.setFont(ArtFont(34, true));
    p.drawText(QRectF(96, 14, 500, 48), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quirelle"));
    p.setPen(QColor(210, 228, 246));
    p.setFont(ArtFont(13));
    p.drawText(QRectF(98, 58, 500, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Images, scans and photos into one PDF or PostScript document"));
    // The light rounded panel behind the pages (which sit at 40, 112, 785 x 337).
    const QRectF panel(28, 104, 805, 353);
    SoftShadow(p, panel, 16, 8);
    p.setPen(QPen(QColor(196, 212, 230), 1));
    p.setBrush(QColor(248, 251, 254));
    p.drawRoundedRect(panel, 16, 16);
    p.restore();
}

QSize PictureSize(Picture picture) {
    switch (picture) {
        case Picture::SelectFormatHeading: return {460, 40};
        case Picture::PdfLogo:
        case Picture::PsLogo: return {104, 104};
        case Picture::PdfDescription:
        case Picture::PsDescription: return {290, 96};
        case Picture::OutputLabels: return {220, 230};
        case Picture::Finish: return {480, 160};
    }
    return {1, 1};
}

QPixmap RenderPicture(Picture picture, qreal dpr) {
    const QSize size = PictureSize(picture);
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF all(QPointF(0, 0), QSizeF(size));
    auto paragraph = [&](const QString& title, const QString& body) {
        p.setPen(kAccentDark);
        p.setFont(ArtFont(16, true));
        p.drawText(QRectF(0, 0, all.width(), 24), Qt::AlignLeft | Qt::AlignVCenter, title);
        p.setPen(kInk);
        p.setFont(ArtFont(12));
        p.drawText(QRectF(0, 28, all.width(), all.height() - 28), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, body);
    };
    switch (picture) {
        case Picture::SelectFormatHeading:
            p.setPen(kAccentDark);
            p.setFont(ArtFont(22, true));
            p.drawText(all, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Please select output format:"));
            break;
        case Picture::PdfLogo: PaintDocumentGlyph(p, all.adjusted(22, 6, -10, -6), QColor(200, 40, 40), QStringLiteral("PDF")); break;
        case Picture::PsLogo: PaintDocumentGlyph(p, all.adjusted(22, 6, -10, -6), QColor(40, 110, 70), QStringLiteral("PS")); break;
        case Picture::PdfDescription:
            paragraph(QStringLiteral("Adobe PDF"),
                      QStringLiteral("One file that every computer, tablet and phone can open, ready to share, "
                                     "archive and print."));
            break;
        case Picture::PsDescription:
            paragraph(QStringLiteral("PostScript"),
                      QStringLiteral("The language of printers: send the file straight to a PostScript printer "
                                     "or a print shop."));
            break;
        case Picture::OutputLabels: {
            // Level with the edit (y 61), the paper list (y 152) and the compression list (y 240) of
            // the page; the picture itself sits at y 48.
            p.setPen(kInk);
            p.setFont(ArtFont(15, true));
            const char* const labels[3] = {"Output location:", "Paper size:", "Compression:"};
            const int centres[3] = {61 + 10 - 48, 152 + 10 - 48, 240 + 10 - 48};
            for (int i = 0; i < 3; ++i)
                p.drawText(QRectF(0, centres[i] - 14, all.width(), 28), Qt::AlignLeft | Qt::AlignVCenter,
                           QString::fromLatin1(labels[i]));
            break;
        }
        case Picture::Finish: {
            p.setPen(QPen(QColor(46, 160, 90), 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(8, 28, 104, 104));
            p.drawLine(QPointF(36, 82), QPointF(54, 100));
            p.drawLine(QPointF(54, 100), QPointF(86, 60));
            p.setPen(kAccentDark);
            p.setFont(ArtFont(48, true));
            p.drawText(QRectF(136, 24, all.width() - 136, 66), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Finish!"));
            p.setPen(kInk);
            p.setFont(ArtFont(14));
            p.drawText(QRectF(138, 92, all.width() - 138, 48), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                       QStringLiteral("Your document is complete. Press \"Another!\" to make the next one."));
            break;
        }
    }
    return pixmap;
}

QPixmap RenderAppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor(37, 110, 180));
    g.setColorAt(1, QColor(19, 56, 99));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, size, size).adjusted(size * 0.04, size * 0.04, -size * 0.04, -size * 0.04), size * 0.2,
                      size * 0.2);
    PaintDocumentGlyph(p, QRectF(size * 0.28, size * 0.16, size * 0.46, size * 0.62), QColor(212, 48, 48),
                       QStringLiteral("PDF"));
    return pixmap;
}

}  // namespace quirelle::gui
