#include "ui/UiStyle.h"

#include "ui/CoalescedCall.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QSvgRenderer>
#include <QWidget>

namespace ui {

void applyDarkTheme(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(30, 30, 30), base(22, 22, 22), text(230, 230, 230), button(58, 58, 60);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(50, 50, 52));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, kGray);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, kRed);
    p.setColor(QPalette::Light, QColor(80, 80, 82));
    p.setColor(QPalette::Midlight, QColor(66, 66, 68));
    p.setColor(QPalette::Mid, QColor(44, 44, 46));
    p.setColor(QPalette::Dark, QColor(18, 18, 18));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(10, 132, 255));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(110, 110, 112));
    app.setPalette(p);
}

void prepareApplication(QApplication& app)
{
    QApplication::setOrganizationName(QStringLiteral("Orvalen"));
    QApplication::setApplicationName(QStringLiteral("Orvalen"));
    QApplication::setDesktopFileName(QStringLiteral("orvalen"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/orvalen/orvalen.svg")));
    applyDarkTheme(app);
}

QFont monoFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QIcon templateIcon(const QString& name, const QColor& color, int size, qreal ratio)
{
    // Made once per look: every new icon is a new pixmap, and Qt's pixmap
    // cache keeps a scaled copy of each one it paints, never to be used again.
    // Emptied with the application, before the pixmaps' platform goes.
    static QHash<QString, QIcon> made;
    if (made.isEmpty())
        qAddPostRoutine([] { made.clear(); });
    const QString key = QStringLiteral("%1 %2 %3 %4").arg(name, color.name(QColor::HexArgb)).arg(size).arg(ratio);
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;

    QIcon icon;
    // The screen's own ratio, plus the common ones for a window that spans
    // two screens or a style that asks for another size.
    QList<qreal> ratios{1.0, 2.0};
    if (!ratios.contains(ratio) && ratio > 0)
        ratios.append(ratio);
    for (qreal r : ratios)
        icon.addPixmap(tintedSvg(QStringLiteral(":/orvalen/icons/%1.svg").arg(name), size, color, r));
    made.insert(key, icon);
    return icon;
}

QPixmap tintedSvg(const QString& resource, int height, const QColor& color, qreal ratio)
{
    QSvgRenderer svg(resource);
    const QSizeF natural = svg.defaultSize();
    const int width = natural.height() > 0 ? qRound(natural.width() * height / natural.height()) : height;
    QImage image(QSize(qRound(width * ratio), qRound(height * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QLabel* grayLabel(const QString& text, int pixelSize, QFont::Weight weight, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(monoFont(pixelSize, weight));
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(kGray)));
    return label;
}

bool isWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool isPixelRatioChange(const QEvent* event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    if (event->type() == QEvent::DevicePixelRatioChange)
        return true;
#endif
    // Before Qt 6.6 a widget learns of a new screen only through this one.
    return event->type() == QEvent::ScreenChangeInternal;
}

namespace {

// Follows the application's focus: shown around the focus widget while it
// lies inside the area, hidden otherwise. Blind to the mouse.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* area) : QWidget(area)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
        area->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The layout moves controls when the area resizes or a row changes.
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
            m_follow.request();
        return QWidget::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kAccent, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }

private:
    void follow(QWidget* focus)
    {
        QWidget* area = parentWidget();
        if (!focus || focus == area || !area->isAncestorOf(focus) || !focus->isVisible()) {
            hide();
            return;
        }
        setGeometry(QRect(focus->mapTo(area, QPoint(0, 0)), focus->size()).adjusted(-3, -2, 3, 2));
        raise();
        show();
    }

    CoalescedCall m_follow{this, [this] { follow(QApplication::focusWidget()); }};
};

}  // namespace

void addFocusRing(QWidget* area) { new FocusRing(area); }

QColor toneColor(MeterTone tone)
{
    QColor c;
    switch (tone) {
    case MeterTone::green: return kGreen;
    case MeterTone::greenDimmed: c = kGreen; break;
    case MeterTone::yellow: return kYellow;
    case MeterTone::yellowDimmed: c = kYellow; break;
    case MeterTone::red: return kRed;
    }
    c.setAlphaF(0.75f);
    return c;
}

QString css(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

}  // namespace ui
