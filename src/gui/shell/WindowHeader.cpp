#include "gui/shell/WindowHeader.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/Style.h"
#include "gui/shell/PresenceChip.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

WindowHeader::WindowHeader(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("window.header"));
    // The height the header has with the workspace's name in it, so that the
    // page below does not move when the name comes after the first frame.
    setMinimumHeight(63);
    auto* row = new QHBoxLayout(this);
    // 11 above and below: the switcher's focus ring adds a point to each of its edges.
    row->setContentsMargins(20, 11, 20, 11);
    row->setSpacing(10);

    auto* cpu = new Icon(QStringLiteral("cpu"), 18, DS::mint(), this);
    cpu->setAccessibleName(QString());
    row->addWidget(cpu, 0, Qt::AlignVCenter);

    m_names = new QVBoxLayout;
    m_names->setSpacing(1);

    row->addLayout(m_names);

    row->addStretch(1);
    row->addSpacing(8);

    m_chip = new PresenceChip(this);
    row->addWidget(m_chip, 0, Qt::AlignVCenter);
}

void WindowHeader::ensureWorkspaceWidgets()
{
    if (m_switcher)
        return;
    // Made with the catalogue's first load: the window's first frame, which
    // comes before it, shows none of them.
    auto* row = static_cast<QHBoxLayout*>(layout());
    m_caption = DSText::label(QStringLiteral("工作区"), DSFont::bold(9.5), DS::muted(0.4), this);
    QFont captionFont = m_caption->font();
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    m_caption->setFont(captionFont);
    m_names->addWidget(m_caption);

    m_unpaired = DSText::label(QStringLiteral("还没配对"), DSFont::bold(15), DS::muted(0.55), this);
    m_unpaired->setObjectName(QStringLiteral("workspace.unpaired"));
    m_names->addWidget(m_unpaired);

    m_switcher = new ElidedComboBox(this);
    m_switcher->setObjectName(QStringLiteral("workspace.switcher"));
    m_switcher->setAccessibleName(QStringLiteral("工作区"));
    m_switcher->setFont(DSFont::bold(15));
    m_switcher->setMaximumWidth(240);
    m_switcher->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_switcher->setView(new QListView(m_switcher));
    m_switcher->setStyleSheet(Style::workspaceSwitcher());
    m_switcher->hide();
    connect(m_switcher, &QComboBox::activated, this, [this](int index) {
        if (!m_filling && index >= 0)
            emit workspaceChosen(m_switcher->itemData(index).toString());
    });
    m_names->addWidget(m_switcher, 0, Qt::AlignLeft);

    m_add = new QToolButton(this);
    m_add->setObjectName(QStringLiteral("workspace.add"));
    m_add->setToolTip(QStringLiteral("增加工作区"));
    m_add->setAccessibleName(QStringLiteral("增加工作区"));
    m_add->setIcon(QIcon(Icon::pixmap(QStringLiteral("plus"), 28, DS::ink(), 2.0)));
    m_add->setIconSize(QSize(14, 14));
    m_add->setAutoRaise(true);
    m_add->setCursor(Qt::PointingHandCursor);
    m_add->setStyleSheet(Style::iconButton());
    m_add->setEnabled(!m_busy);
    m_add->hide();
    connect(m_add, &QToolButton::clicked, this, &WindowHeader::addRequested);
    row->insertWidget(row->indexOf(m_chip), m_add, 0, Qt::AlignVCenter);
}

void WindowHeader::setWorkspaces(const QList<WorkspaceRecord>& records, const QString& selectedID)
{
    ensureWorkspaceWidgets();
    m_caption->show();
    const bool paired = !records.isEmpty();
    m_unpaired->setVisible(!paired);
    m_switcher->setVisible(paired);
    m_add->setVisible(paired);

    m_filling = true;
    bool same = m_switcher->count() == records.size();
    for (int i = 0; same && i < records.size(); ++i)
        same = m_switcher->itemData(i).toString() == records[i].id()
            && m_switcher->itemText(i) == records[i].config.displayName();
    if (!same) {
        m_switcher->clear();
        for (const WorkspaceRecord& r : records) {
            m_switcher->addItem(r.config.displayName(), r.id());
            m_switcher->setItemData(m_switcher->count() - 1, r.config.displayName(), Qt::ToolTipRole);
        }
    }
    // The catalogue's selection, else its first record (what it treats as selected).
    const int index = m_switcher->findData(selectedID);
    m_switcher->setCurrentIndex(index >= 0 ? index : (paired ? 0 : -1));
    m_filling = false;
}

void WindowHeader::setWorkspacesPending()
{
    if (!m_switcher)
        return;
    m_caption->hide();
    m_unpaired->hide();
    m_switcher->hide();
    m_add->hide();
}

void WindowHeader::setPresence(const AgentPresence& presence)
{
    m_chip->setPresence(presence);
}

void WindowHeader::setBusy(bool busy)
{
    m_busy = busy;
    if (m_add)
        m_add->setEnabled(!busy);
}

void WindowHeader::paintEvent(QPaintEvent*)
{
    // The divider under the header.
    QPainter p(this);
    p.fillRect(QRect(0, height() - 1, width(), 1), DS::hair());
}
