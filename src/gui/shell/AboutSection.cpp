#include "gui/shell/AboutSection.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/platform/BuildInfo.h"
#include "core/platform/CredentialRedaction.h"
#include "gui/design/DSText.h"
#include "gui/design/RoundedPlate.h"
#include "gui/design/SectionHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

AboutSection::AboutSection(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("about.section"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    stack->addWidget(new SectionHeader(QStringLiteral("关于 / 高级"), QString(), nullptr, this));

    // The rows' rounded, faintly lit plate.
    auto* card = new RoundedPlate(this);
    auto* rows = new QVBoxLayout(card);
    rows->setContentsMargins(12, 12, 12, 12);
    rows->setSpacing(6);
    addRow(rows, QStringLiteral("Version"), appVersion(), QStringLiteral("about.version"));
    addRow(rows, QStringLiteral("Build"), appBuild(), QStringLiteral("about.build"));
    addRow(rows, QStringLiteral("Git Commit"), gitCommit(), QStringLiteral("about.commit"));
    m_api = addRow(rows, QStringLiteral("Gateway"), QStringLiteral("（未配对）"), QStringLiteral("about.api"));

    m_note = DSText::label(QString(), DSFont::medium(11.5), DS::amber(), card);
    m_note->setObjectName(QStringLiteral("about.endpointNote"));
    m_note->setWordWrap(true);
    m_note->hide();
    rows->addWidget(m_note);
    stack->addWidget(card);
}

QLabel* AboutSection::addRow(QVBoxLayout* card, const QString& label, const QString& value, const QString& id)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    QLabel* name = DSText::label(label, DSFont::medium(11), DS::muted(0.45));
    name->setFixedWidth(84);
    QLabel* shown = DSText::label(value, DSFont::monoMedium(11), DS::ink());
    shown->setObjectName(id);
    shown->setAccessibleName(value);
    shown->setCursor(Qt::IBeamCursor);
    m_values.append(shown);
    row->addWidget(name, 0, Qt::AlignBaseline);
    row->addWidget(shown, 0, Qt::AlignBaseline);
    row->addStretch(1);
    card->addLayout(row);
    return shown;
}

void AboutSection::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // A selectable label lays its text out as a whole document, which would
    // hold up the window's first frame, where this section often is: the
    // values become selectable right after it.
    if (m_selectionQueued)
        return;
    m_selectionQueued = true;
    QTimer::singleShot(0, this, [this] {
        for (QLabel* value : std::as_const(m_values))
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    });
}

void AboutSection::setWorkspace(const std::optional<CLIConfig>& selected, const std::optional<QString>& endpointNote)
{
    const QString api = selected ? CredentialRedaction::shownAddress(selected->api) : QStringLiteral("（未配对）");
    m_api->setText(api);
    m_api->setAccessibleName(api);
    if (endpointNote) {
        m_note->setText(*endpointNote);
        m_note->show();
    } else {
        m_note->clear();
        m_note->hide();
    }
}

QString AboutSection::orQuestionMark(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("?") : value;
}

QString AboutSection::commitText(const QString& raw)
{
    const QString trimmed = raw.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("$(")))
        return QStringLiteral("未注入（不是发布脚本出的包）");
    return trimmed;
}

QString AboutSection::appVersion()
{
    static const QString value = orQuestionMark(BuildInfo::version());
    return value;
}

QString AboutSection::appBuild()
{
    static const QString value = orQuestionMark(BuildInfo::buildNumber());
    return value;
}

QString AboutSection::gitCommit()
{
    static const QString value = commitText(BuildInfo::commit());
    return value;
}
