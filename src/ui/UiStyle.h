#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "renderer/BeamModel.h"
#include "ui/Formatting.h"

class QApplication;
class QEvent;
class QLabel;
class QWidget;

// The look of the window: dark Fusion palette, small monospaced texts, the
// system-like accent colours, and template icons tinted at run time.
namespace ui {

inline const QColor kScopeBackground = QColor::fromRgbF(beam::kBackground, beam::kBackground, beam::kBackground);
inline const QColor kPanelBackground = QColor::fromRgbF(0.12f, 0.12f, 0.12f);
inline const QColor kGray(142, 142, 147);
inline const QColor kGreen(48, 209, 88);
inline const QColor kYellow(255, 214, 10);
inline const QColor kRed(255, 69, 58);
inline const QColor kOrange(255, 159, 10);
inline const QColor kAccent(10, 132, 255);

// Dark appearance for the whole application (Fusion with a dark palette).
void applyDarkTheme(QApplication& app);

// Names, icon and theme of the application, as the program and its load
// benchmark both set them.
void prepareApplication(QApplication& app);

// Monospaced font of `pixelSize` logical pixels (the panel's "points").
QFont monoFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// An icon from resources/icons (":/orvalen/icons/<name>.svg"), drawn as a
// template in `color` at `size` logical pixels, at 1x, 2x and `ratio` (the
// widget's device pixel ratio) so that no scaling blurs it.
QIcon templateIcon(const QString& name, const QColor& color, int size, qreal ratio);

// An SVG resource drawn as a template: its shape filled with `color`,
// `height` logical pixels tall (the width follows the drawing's aspect), at
// the device pixel ratio `ratio`. Icons and the logo are both made this way.
QPixmap tintedSvg(const QString& resource, int height, const QColor& color, qreal ratio);

// A caption of the panel: monospaced, in the secondary gray.
QLabel* grayLabel(const QString& text, int pixelSize, QFont::Weight weight, QWidget* parent);

// True on a Wayland session: there a client cannot place its windows, and a
// GL child window (a subsurface) is never marked exposed.
bool isWayland();

// True for the events that tell a widget its device pixel ratio may have
// changed (its window moved to another screen, or the screen's scale changed).
bool isPixelRatioChange(const QEvent* event);

// A rounded accent ring around whichever control inside `area` has the
// keyboard focus: one look for sliders, pickers and buttons alike.
void addFocusRing(QWidget* area);

// The colour of a meter tone, dimmed tones at 75 % opacity.
QColor toneColor(MeterTone tone);

// A whole-widget style sheet colour, "rgba(r, g, b, a)".
QString css(const QColor& color);

}  // namespace ui
