#include "ui/panel/PresetControls.h"

#include "settings/ScopeSettings.h"
#include "ui/SettingControls.h"
#include "ui/UiStyle.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Trims spaces and tabs (only those) from both ends.
QString trimSpacesAndTabs(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

}  // namespace

PresetControls::PresetControls(ScopeSettings& settings, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_menuButton(new QToolButton(this)), m_save(new QToolButton(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);

    m_menuButton->setText(QStringLiteral("PRESET"));
    m_menuButton->setFont(ui::monoFont(9, QFont::Medium));
    m_menuButton->setIconSize(QSize(7, 7));
    m_menuButton->setAccessibleName(QStringLiteral("Presets"));
    m_menuButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_menuButton->setLayoutDirection(Qt::RightToLeft);  // chevron after the text
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setAutoRaise(true);
    m_menuButton->setFocusPolicy(Qt::TabFocus);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton { color: #d8d8da; }"
                                               "QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(m_menuButton);
    m_menuButton->setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, &PresetControls::rebuildMenu);
    row->addWidget(m_menuButton);

    m_save->setText(QStringLiteral("SAVE"));
    m_save->setFont(ui::monoFont(9, QFont::Medium));
    m_save->setAutoRaise(true);
    m_save->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGray)));
    m_save->setToolTip(QStringLiteral("Save current settings as preset"));
    m_save->setAccessibleName(m_save->toolTip());
    m_save->setFocusPolicy(Qt::TabFocus);
    connect(m_save, &QToolButton::clicked, this, &PresetControls::openSaveDialog);
    row->addWidget(m_save);
}

void PresetControls::applyIcons(qreal ratio)
{
    m_menuButton->setIcon(ui::templateIcon(QStringLiteral("chevron.down"), QColor(216, 216, 218), 7, ratio));
}

void PresetControls::rebuildMenu()
{
    QMenu* menu = m_menuButton->menu();
    menu->clear();
    menu->addAction(QStringLiteral("DEFAULT"), this, [this] { m_settings.resetToDefaults(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("FILTER: OFF (Full Band)"), this,
                    [this] { m_settings.setDisplayFilterType(FilterType::off); });
    for (const auto& preset : ScopeSettings::factoryFilterPresets) {
        const FilterType type = preset.type;
        const float frequency = preset.frequency;
        menu->addAction(QStringLiteral("FILTER: ") + ui::text(preset.label), this, [this, type, frequency] {
            m_settings.setDisplayFilterType(type);
            m_settings.setDisplayFilterFrequency(frequency);
        });
    }
    const auto presets = m_settings.savedPresets();
    if (presets.empty())
        return;
    menu->addSeparator();
    for (const auto& preset : presets)
        menu->addAction(preset.name, this, [this, preset] { m_settings.applyPreset(preset); });
    menu->addSeparator();
    const QIcon trash = ui::templateIcon(QStringLiteral("trash"), ui::kRed, 12, devicePixelRatioF());
    for (const auto& preset : presets) {
        QAction* action = menu->addAction(trash, QStringLiteral("Delete ") + preset.name);
        const QString name = preset.name;
        connect(action, &QAction::triggered, this, [this, name] { confirmDelete(name); });
    }
}

void PresetControls::openSaveDialog()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("savePresetDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Save Preset"));
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(QStringLiteral("Enter a name for this preset."), dialog));
    auto* name = new QLineEdit(dialog);
    name->setPlaceholderText(QStringLiteral("Preset name"));
    layout->addWidget(name);
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, name] { saveNamedPreset(name->text()); });
    dialog->open();
}

void PresetControls::saveNamedPreset(const QString& typed)
{
    const QString name = trimSpacesAndTabs(typed);
    if (name.isEmpty())
        return;
    m_settings.savePreset(name);
    ++m_revision;
}

void PresetControls::confirmDelete(const QString& name)
{
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("deletePresetDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Delete Preset"));
    box->setText(QStringLiteral("Delete \"%1\"?").arg(name));
    box->setIcon(QMessageBox::Warning);
    QPushButton* remove = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(remove, &QPushButton::clicked, this, [this, name] {
        m_settings.deletePreset(name);
        ++m_revision;
    });
    box->open();
}
