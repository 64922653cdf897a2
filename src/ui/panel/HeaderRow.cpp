#include "ui/panel/HeaderRow.h"

#include "audio/AudioEngine.h"
#include "ui/DeviceSelector.h"
#include "ui/Formatting.h"
#include "ui/SettingControls.h"
#include "ui/UiStyle.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int kSnapshotNoteMs = 4000;
// The logo sits in a clear area of its own, as tall as the row's controls:
// drawn any larger it would hang over the rows below.
constexpr int kLogoAreaWidth = 180;
constexpr int kLogoHeight = 22;

// The faint logo, drawn only while its area is wide enough for all of it:
// when the row is crowded (a narrow window) the area shrinks and the logo
// leaves rather than overlapping a control.
class Logo : public QLabel {
public:
    explicit Logo(QWidget* parent) : QLabel(parent)
    {
        setMaximumWidth(kLogoAreaWidth);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setAlignment(Qt::AlignCenter);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setLogo(const QPixmap& logo)
    {
        m_logo = logo;
        follow();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        follow();
    }

private:
    void follow()
    {
        const bool fits = m_logo.deviceIndependentSize().width() <= width();
        if (fits != !pixmap().isNull())
            setPixmap(fits ? m_logo : QPixmap());
    }
    QPixmap m_logo;
};

QToolButton* iconButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(14, 14));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

}  // namespace

HeaderRow::HeaderRow(AudioEngine& engine, ScopeSettings& settings, QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    m_displayMode = ui::makePicker(settings, settings::displayMode, 110, QStringLiteral("Display mode"), this);
    row->addWidget(m_displayMode);

    m_visibility = iconButton(this);
    connect(m_visibility, &QToolButton::clicked, this,
            [this] { m_settings.setScopeVisible(!m_settings.scopeVisible()); });
    row->addWidget(m_visibility);

    m_snapshot = iconButton(this);
    m_snapshot->setToolTip(QStringLiteral("Save a snapshot of the scope (Ctrl+S)"));
    m_snapshot->setAccessibleName(QStringLiteral("Save snapshot"));
    connect(m_snapshot, &QToolButton::clicked, this, &HeaderRow::snapshotRequested);
    row->addWidget(m_snapshot);

    m_devices = new DeviceSelector(engine, this);
    row->addWidget(m_devices);
    row->addStretch(1);

    m_logo = new Logo(this);
    row->addWidget(m_logo, 2);
    row->addStretch(1);

    // The snapshot note and CORR share one place, which keeps its width
    // while the note is hidden, so the logo never moves: the note covers
    // the reading for the few seconds it shows.
    auto* shared = new QWidget(this);
    auto* stack = new QGridLayout(shared);
    stack->setContentsMargins(0, 0, 0, 0);
    m_correlationBox = new QWidget(shared);
    auto* corr = new QHBoxLayout(m_correlationBox);
    corr->setContentsMargins(0, 0, 0, 0);
    corr->addStretch(1);
    corr->addWidget(ui::grayLabel(QStringLiteral("CORR:"), 9, QFont::Normal, m_correlationBox));
    // Fixed width: a new reading repaints the label alone, 20 times a second.
    m_correlation = new QLabel(m_correlationBox);
    m_correlation->setFont(ui::monoFont(10));
    m_correlation->setFixedWidth(m_correlation->fontMetrics().horizontalAdvance(QStringLiteral("+0.00")));
    corr->addWidget(m_correlation);
    stack->addWidget(m_correlationBox, 0, 0);

    m_snapshotNote = ui::grayLabel(QString(), 10, QFont::Normal, shared);
    m_snapshotNote->setFixedWidth(240);
    m_snapshotNote->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QSizePolicy keepPlace = m_snapshotNote->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_snapshotNote->setSizePolicy(keepPlace);
    m_snapshotNote->hide();
    m_snapshotNoteTimer = new QTimer(this);
    m_snapshotNoteTimer->setSingleShot(true);
    m_snapshotNoteTimer->setInterval(kSnapshotNoteMs);
    connect(m_snapshotNoteTimer, &QTimer::timeout, this, [this] {
        m_snapshotNote->hide();
        m_correlationBox->show();
    });
    stack->addWidget(m_snapshotNote, 0, 0);
    row->addWidget(shared);

    m_sampleRate = ui::grayLabel(QString(), 10, QFont::Normal, this);
    row->addWidget(m_sampleRate);

    m_startStop = new QPushButton(this);
    m_startStop->setFixedWidth(60);
    m_startStop->setFont(ui::monoFont(10));
    m_startStop->setFocusPolicy(Qt::TabFocus);
    m_startStop->setAccessibleName(QStringLiteral("Start or stop capture"));
    connect(m_startStop, &QPushButton::clicked, this, [&engine] {
        if (engine.isRunning())
            engine.stop();
        else
            engine.start();
    });
    row->addWidget(m_startStop);

    m_error = new QLabel(this);
    m_error->setFont(ui::monoFont(10));
    m_error->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kRed)));
    m_error->setMaximumWidth(260);
    m_error->setTextFormat(Qt::PlainText);
    row->addWidget(m_error);
}

void HeaderRow::showSettings(const DisplaySettings& values, bool scopeVisible)
{
    ui::showValue(m_displayMode, settings::displayMode, values.displayMode);
    if (m_shownVisible != scopeVisible)
        showVisibility(scopeVisible, m_iconRatio);
}

void HeaderRow::showVisibility(bool visible, qreal ratio)
{
    m_shownVisible = visible;
    m_visibility->setIcon(ui::templateIcon(visible ? QStringLiteral("eye") : QStringLiteral("eye.slash"),
                                           visible ? ui::kGray : ui::kOrange, 12, ratio));
    m_visibility->setToolTip(visible ? QStringLiteral("Hide scope") : QStringLiteral("Show scope"));
    m_visibility->setAccessibleName(m_visibility->toolTip());
}

void HeaderRow::applyIcons(qreal ratio)
{
    m_iconRatio = ratio;
    showVisibility(m_settings.scopeVisible(), ratio);
    m_snapshot->setIcon(ui::templateIcon(QStringLiteral("camera"), ui::kGray, 12, ratio));
    static_cast<Logo*>(m_logo)->setLogo(
        ui::tintedSvg(QStringLiteral(":/orvalen/logo.svg"), kLogoHeight, QColor(255, 255, 255, 77), ratio));
}

void HeaderRow::showCorrelation(float value)
{
    m_correlation->setText(formatCorrelation(value));
    // Only on a change of tone: a new style sheet repolishes the label.
    const QString sheet = QStringLiteral("color: %1;").arg(ui::css(ui::toneColor(correlationTone(value))));
    if (m_correlation->styleSheet() != sheet)
        m_correlation->setStyleSheet(sheet);
}

void HeaderRow::showEngine(double sampleRate, bool running, const QString& error, bool file)
{
    m_sampleRate->setText(formatSampleRate(sampleRate));
    if (file)
        m_startStop->setText(running ? QStringLiteral("Pause") : QStringLiteral("Play"));
    else
        m_startStop->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_error->setVisible(!error.isEmpty());
    m_error->setText(m_error->fontMetrics().elidedText(error, Qt::ElideRight, m_error->maximumWidth()));
    m_error->setToolTip(error);
}

void HeaderRow::showSnapshotResult(const std::optional<QString>& path)
{
    if (path)
        showNote(QStringLiteral("Saved ") + QFileInfo(*path).fileName(), *path, true);
    else
        showNote(QStringLiteral("Snapshot could not be saved"),
                 QStringLiteral("No picture to take (no OpenGL), or the Pictures folder is not writable."), false);
}

void HeaderRow::showNote(const QString& text, const QString& tip, bool ok)
{
    m_snapshotNote->setText(
        m_snapshotNote->fontMetrics().elidedText(text, Qt::ElideMiddle, m_snapshotNote->width()));
    m_snapshotNote->setToolTip(tip);
    m_snapshotNote->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ok ? ui::kGray : ui::kRed)));
    m_correlationBox->hide();
    m_snapshotNote->show();
    m_snapshotNoteTimer->start();
}
