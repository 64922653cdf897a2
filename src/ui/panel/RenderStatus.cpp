#include "ui/panel/RenderStatus.h"

#include "ui/UiStyle.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

RenderStatus::RenderStatus(QWidget* parent)
    : QWidget(parent),
      m_name(ui::grayLabel(QString(), 10, QFont::Normal, this)),
      m_bar(new QProgressBar(this)),
      m_left(ui::grayLabel(QString(), 10, QFont::Normal, this)),
      m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_name->setFixedWidth(220);
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(8);
    m_bar->setAccessibleName(QStringLiteral("Video render progress"));
    m_left->setMinimumWidth(m_left->fontMetrics().horizontalAdvance(QStringLiteral("100 %  00:00:00 left")));
    m_cancel->setFocusPolicy(Qt::TabFocus);
    m_cancel->setAccessibleName(QStringLiteral("Cancel the video render"));
    row->addWidget(m_name);
    row->addWidget(m_bar, 1);
    row->addWidget(m_left);
    row->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &RenderStatus::cancelRequested);
}

void RenderStatus::begin(const QString& output)
{
    const QString text = QStringLiteral("Rendering ") + QFileInfo(output).fileName();
    m_name->setText(m_name->fontMetrics().elidedText(text, Qt::ElideMiddle, m_name->width()));
    m_name->setToolTip(output);
    m_bar->setRange(0, 0);  // busy until the first report
    m_left->clear();
}

void RenderStatus::showProgress(qint64 done, qint64 total, double fps)
{
    if (total <= 0) {
        m_bar->setRange(0, 0);
        m_left->setText(QStringLiteral("%1 frames").arg(done));
        return;
    }
    m_bar->setRange(0, 1000);
    m_bar->setValue(static_cast<int>(1000 * done / total));
    const auto left = static_cast<qint64>(fps > 0 ? static_cast<double>(total - done) / fps : 0);
    m_left->setText(QStringLiteral("%1 %  %2:%3 left")
                        .arg(100 * done / total)
                        .arg(left / 60)
                        .arg(left % 60, 2, 10, QLatin1Char('0')));
}
