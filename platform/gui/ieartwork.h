// The wizard's artwork, drawn by code so that it stays crisp at every display scale: the window
// background, the picture buttons in their four states and the pictures of the pages.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;

namespace quirelle::gui {

// The page colour: red 217, green 234, blue 247.
inline const QColor kPageColor(217, 234, 247);
inline const QColor kAccent(31, 94, 160);
inline const QColor kAccentDark(20, 64, 115);
inline const QColor kSelectionMark(212, 48, 48);
inline const QColor kInk(33, 43, 54);

// The font of the artwork: DejaVu Sans at a pixel size.
QFont ArtFont(int pixelSize, bool bold = false);

enum class ButtonStyle {
    Primary,    // Next: filled accent
    Secondary,  // Close, Help: light with an accent outline
    Browse,     // Browse...: filled accent, smaller text
    Choice,     // Adobe PDF / PostScript: a card with a document glyph; disabled = selected
    Action,     // New Page from File... / Scanner...: a card with an icon
};

enum class ButtonState { Normal, Hover, Pressed, Disabled };

enum class Glyph { None, Pdf, PostScript, File, Scanner, Arrow, Help, Close };

// Paints a picture button into rect.
void PaintButton(QPainter& painter, const QRectF& rect, ButtonStyle style, ButtonState state, const QString& text,
                 Glyph glyph);

// The window background: a title band with the product name and a light rounded panel behind
// the pages.
void PaintWindowBackground(QPainter& painter, const QSize& size);

// The pictures of the pages, rendered for a device pixel ratio.
enum class Picture {
    SelectFormatHeading,  // "Please select output format:"
    PdfLogo,
    PdfDescription,
    PsLogo,
    PsDescription,
    OutputLabels,  // "Output location:", "Paper size:", "Compression:"
    Finish,        // "Finish!"
};
QSize PictureSize(Picture picture);
QPixmap RenderPicture(Picture picture, qreal devicePixelRatio);

// The application icon at a size in pixels.
QPixmap RenderAppIcon(int size);

}  // namespace quirelle::gui
