#include "ui/panel/TransportBar.h"

#include "audio/AudioEngine.h"
#include "ui/UiStyle.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <cmath>

namespace {

constexpr int kSeekSteps = 10000;
constexpr int kClockMs = 50;

// A click on the groove goes to that place, not a page towards it.
class SeekSlider final : public QSlider {
public:
    explicit SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) {
            setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), event->position().toPoint().x(), width()));
            setSliderDown(true);
            emit sliderMoved(value());
        }
        QSlider::mousePressEvent(event);
    }
};

QString clock(double seconds)
{
    if (!(seconds >= 0) || !std::isfinite(seconds))
        return QStringLiteral("--:--");
    const auto s = static_cast<long long>(seconds);
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QToolButton* toggle(const QString& text, const QString& tip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFont(ui::monoFont(9, QFont::Medium));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

}  // namespace

TransportBar::TransportBar(AudioEngine& engine, QWidget* parent)
    : QWidget(parent),
      m_engine(engine),
      m_name(ui::grayLabel(QString(), 10, QFont::Normal, this)),
      m_seek(new SeekSlider(this)),
      m_time(ui::grayLabel(QString(), 10, QFont::Normal, this)),
      m_loop(toggle(QStringLiteral("LOOP"), QStringLiteral("Play the file in a loop"), this)),
      m_mute(toggle(QStringLiteral("MUTE"), QStringLiteral("Scope the file without sound"), this)),
      m_render(new QPushButton(QStringLiteral("Render Video\u2026"), this)),
      m_clock(new QTimer(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_name->setFixedWidth(220);
    m_seek->setRange(0, kSeekSteps);
    m_seek->setFocusPolicy(Qt::TabFocus);
    m_seek->setAccessibleName(QStringLiteral("Position in the file"));
    m_time->setMinimumWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
    row->addWidget(m_name);
    row->addWidget(m_seek, 1);
    row->addWidget(m_time);
    row->addWidget(m_loop);
    row->addWidget(m_mute);
    row->addWidget(m_render);
    m_render->setToolTip(QStringLiteral("Render the file's picture and sound to a video (Ctrl+R)"));
    m_render->setFocusPolicy(Qt::TabFocus);
    connect(m_render, &QPushButton::clicked, this, &TransportBar::renderRequested);

    // Dragging shows where it would go; letting go (or a click) goes there.
    connect(m_seek, &QSlider::sliderMoved, this, [this] { showPosition(); });
    connect(m_seek, &QSlider::sliderReleased, this, [this] { m_engine.seekFile(framesAt(m_seek->value())); });
    connect(m_seek, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            QTimer::singleShot(0, this, [this] { m_engine.seekFile(framesAt(m_seek->value())); });
    });
    connect(m_loop, &QToolButton::toggled, this, [this](bool on) { m_engine.setFileLooping(on); });
    connect(m_mute, &QToolButton::toggled, this, [this](bool on) { m_engine.setFileMuted(on); });
    m_clock->setInterval(kClockMs);
    connect(m_clock, &QTimer::timeout, this, &TransportBar::showPosition);
}

int64_t TransportBar::framesAt(int sliderValue) const
{
    const int64_t length = m_engine.fileLength();
    return length > 0 ? static_cast<int64_t>(std::llround(static_cast<double>(length) * sliderValue / kSeekSteps)) : 0;
}

void TransportBar::showEngine()
{
    const QFileInfo file(m_engine.filePath());
    m_name->setText(m_name->fontMetrics().elidedText(file.fileName(), Qt::ElideMiddle, m_name->width()));
    m_name->setToolTip(file.filePath());
    {
        const QSignalBlocker a(m_loop), b(m_mute);
        m_loop->setChecked(m_engine.fileLooping());
        m_mute->setChecked(m_engine.fileMuted());
    }
    if (m_engine.isRunning())
        m_clock->start();
    else
        m_clock->stop();
    showPosition();
}

void TransportBar::showPosition()
{
    const double rate = m_engine.sampleRate();
    const int64_t length = m_engine.fileLength();
    const int64_t position = m_seek->isSliderDown() ? framesAt(m_seek->value()) : m_engine.filePosition();
    if (!m_seek->isSliderDown()) {
        const QSignalBlocker block(m_seek);
        m_seek->setValue(length > 0 ? static_cast<int>(kSeekSteps * static_cast<double>(position) / length) : 0);
    }
    m_seek->setEnabled(length > 0);
    m_time->setText(clock(rate > 0 ? position / rate : -1) + QStringLiteral(" / ") +
                    clock(rate > 0 && length >= 0 ? length / rate : -1));
}
