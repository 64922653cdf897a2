#include "ui/DeviceSelector.h"

#include "audio/AudioEngine.h"
#include "settings/RecentFiles.h"
#include "ui/UiStyle.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHelpEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QToolTip>

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
    m_picker->installEventFilter(this);
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
        const QVariant value = m_picker->itemData(index);
        switch (static_cast<Entry>(m_picker->itemData(index, kEntryRole).toInt())) {
        case Entry::device:
            m_engine.setSelectedDeviceID(value.value<uint32_t>());
            break;
        case Entry::file:
            emit fileChosen(value.toString());
            break;
        case Entry::openFile:
            showSelection();  // the entry is an action, not a source
            emit openFileRequested();
            break;
        }
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

bool DeviceSelector::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_picker && event->type() == QEvent::ToolTip) {
        const QString tip = sourceTip();
        if (tip.isEmpty())
            return false;
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, m_picker);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString DeviceSelector::sourceTip() const
{
    const int delay = m_engine.systemAudioDelayMs();
    if (delay >= 0)
        return QStringLiteral("Drawn %1 ms after it is recorded, as the output plays it").arg(delay);
    return m_picker->itemData(m_picker->currentIndex(), Qt::ToolTipRole).toString();
}

void DeviceSelector::setRecentFiles(RecentFiles* recent)
{
    m_recent = recent;
    connect(recent, &RecentFiles::changed, this, &DeviceSelector::rebuild);
    rebuild();
}

void DeviceSelector::rebuild()
{
    // Only on a new list, so an open popup is not reset by other engine news.
    const QSignalBlocker block(m_picker);
    m_picker->clear();
    for (const auto& device : m_engine.devices())
        add(device.name, QVariant::fromValue<uint32_t>(device.id), Entry::device);
    m_picker->insertSeparator(m_picker->count());
    for (const QString& path : m_recent ? m_recent->paths() : QStringList()) {
        add(QFileInfo(path).fileName(), path, Entry::file);
        m_picker->setItemData(m_picker->count() - 1, path, Qt::ToolTipRole);
    }
    add(QStringLiteral("Open File\u2026"), QVariant(), Entry::openFile);
    showSelection();
}

void DeviceSelector::add(const QString& text, const QVariant& value, Entry entry)
{
    m_picker->addItem(text, value);
    m_picker->setItemData(m_picker->count() - 1, static_cast<int>(entry), kEntryRole);
}

void DeviceSelector::showSelection()
{
    const QSignalBlocker block(m_picker);
    const uint32_t id = m_engine.selectedDeviceID();
    int index = -1;
    for (int i = 0; i < m_picker->count() && index < 0; ++i) {
        const auto entry = static_cast<Entry>(m_picker->itemData(i, kEntryRole).toInt());
        if (id == AudioDeviceInfo::kFileID ? entry == Entry::file && m_picker->itemData(i).toString() == m_engine.filePath()
                                            : entry == Entry::device && m_picker->itemData(i).value<uint32_t>() == id)
            index = i;
    }
    m_picker->setCurrentIndex(index);
}
