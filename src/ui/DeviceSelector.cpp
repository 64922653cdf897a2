#include "ui/DeviceSelector.h"

#include "audio/AudioEngine.h"
#include "ui/UiStyle.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

DeviceSelector::DeviceSelector(AudioEngine& engine, QWidget* parent)
    : QWidget(parent),
      m_engine(engine),
      m_caption(new QLabel(QStringLiteral("Source:"), this)),
      m_picker(new QComboBox(this)),
      m_refresh(new QToolButton(this))
{
    m_caption->setFont(ui::monoFont(10));
    m_caption->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGray)));
    m_picker->setFixedWidth(220);
    m_picker->setFocusPolicy(Qt::TabFocus);
    m_picker->setAccessibleName(QStringLiteral("Audio source"));
    m_refresh->setIcon(ui::templateIcon(QStringLiteral("arrow.clockwise"), ui::kGray, 12, devicePixelRatioF()));
    m_refresh->setIconSize(QSize(12, 12));
    m_refresh->setAutoRaise(true);
    m_refresh->setToolTip(QStringLiteral("Refresh device list"));
    m_refresh->setAccessibleName(m_refresh->toolTip());
    m_refresh->setFocusPolicy(Qt::TabFocus);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(m_caption);
    row->addWidget(m_picker);
    row->addWidget(m_refresh);

    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        const QVariant id = m_picker->itemData(index);
        if (id.isValid())
            m_engine.setSelectedDeviceID(id.value<uint32_t>());
    });
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_engine.refreshDevices(); });
    connect(&m_engine, &AudioEngine::devicesChanged, this, &DeviceSelector::rebuild, Qt::QueuedConnection);
    connect(&m_engine, &AudioEngine::willChange, this, &DeviceSelector::showSelection, Qt::QueuedConnection);
    rebuild();
}

bool DeviceSelector::event(QEvent* event)
{
    if (ui::isPixelRatioChange(event))
        m_refresh->setIcon(ui::templateIcon(QStringLiteral("arrow.clockwise"), ui::kGray, 12, devicePixelRatioF()));
    return QWidget::event(event);
}

void DeviceSelector::rebuild()
{
    // Only on a new list, so an open popup is not reset by other engine news.
    const QSignalBlocker block(m_picker);
    m_picker->clear();
    for (const auto& device : m_engine.devices())
        m_picker->addItem(device.name, QVariant::fromValue<uint32_t>(device.id));
    showSelection();
}

void DeviceSelector::showSelection()
{
    const QSignalBlocker block(m_picker);
    m_picker->setCurrentIndex(m_picker->findData(QVariant::fromValue<uint32_t>(m_engine.selectedDeviceID())));
}
