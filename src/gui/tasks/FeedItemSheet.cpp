#include "gui/tasks/FeedItemSheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/Status.h"
#include "gui/design/DSText.h"
#include "gui/design/EmptyState.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"
#include "gui/tasks/FeedItemRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 520;
constexpr int kListMaxHeight = 420;

} // namespace

FeedItemSheet::FeedItemSheet(Texts texts, Status* status, std::optional<CLIConfig> cfg, Reload reload, QWidget* parent)
    : Sheet(texts.prefix + QStringLiteral(".sheet"), texts.title, kWidth, parent)
    , m_texts(std::move(texts))
    , m_status(status)
    , m_cfg(std::move(cfg))
{
    if (!reload)
        reload = ActionRunnerBase::reloadShown(status);
    // A closed sheet's request still changed the workspace: its reload runs all the same.
    m_runner = new ActionRunner<QString>(std::move(reload), ActionRunnerBase::WhenGone::Reload,
        {
            [this](const QString& itemId) {
                if (FeedItemRow* row = m_rows.find(itemId)) {
                    row->setAction(m_runner->state(itemId));
                    refit();
                }
            },
            [this](const QString& itemId) { emit actionFinished(itemId); },
        },
        this);

    QVBoxLayout* col = column();

    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(DSText::label(m_texts.title, DSFont::bold(16), DS::ink(), this));
    titleRow->addStretch(1);
    col->addLayout(titleRow);

    QLabel* explanation = DSText::label(m_texts.explanation, DSFont::medium(11.5), DS::muted(0.55), this);
    explanation->setWordWrap(true);
    col->addWidget(explanation);

    auto* empty = new EmptyState(EmptyState::Kind::emptyButHealthy, m_texts.emptyMessage, std::nullopt, this);
    empty->setObjectName(m_texts.prefix + QStringLiteral(".empty"));
    m_empty = empty;
    col->addWidget(m_empty);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setAutoFillBackground(false);
    m_scroll->verticalScrollBar()->setStyleSheet(Style::scrollBar());
    m_listBody = new QWidget;
    m_listBody->setAutoFillBackground(false);
    m_list = new QVBoxLayout(m_listBody);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(10);
    m_list->addStretch(1);
    m_scroll->setWidget(m_listBody);
    col->addWidget(m_scroll);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(new SecondaryButton(
        QStringLiteral("关闭"), m_texts.prefix + QStringLiteral(".close"), [this] { reject(); }, this));
    col->addLayout(closeRow);

    if (m_status)
        connect(m_status, &Status::feedChanged, this, &FeedItemSheet::rebuild);
}

std::optional<CLIConfig> FeedItemSheet::config() const
{
    if (!m_cfg || !m_status)
        return m_cfg;
    return m_status->feedConfig();
}

QString FeedItemSheet::headline(const FeedApprovalItem& item)
{
    return item.command.isEmpty() ? item.title : item.command;
}

std::optional<FeedApprovalItem> FeedItemSheet::currentItem(const QString& itemId) const
{
    for (const FeedApprovalItem& item : items()) {
        if (item.id == itemId)
            return item;
    }
    return std::nullopt;
}

void FeedItemSheet::rebuild()
{
    const QList<FeedApprovalItem> list = items();
    const QList<FeedItemRow*> rows = m_rows.reconcile(
        list, [](const FeedApprovalItem& item) { return item.id; },
        [this](const FeedApprovalItem& item) {
            auto* row = new FeedItemRow(m_texts.prefix, item.id, m_listBody);
            addButtons(row, item);
            return row;
        },
        [this](FeedItemRow* row, const FeedApprovalItem& item) { refreshRow(row, item); });
    KeyedLayout::place(m_list, rows);

    // An item the gateway no longer reports takes its feedback with it.
    QSet<QString> shown;
    for (const FeedApprovalItem& item : list)
        shown.insert(item.id);
    m_runner->retain([&shown](const QString& itemId) { return shown.contains(itemId); });

    m_empty->setVisible(list.isEmpty());
    m_scroll->setVisible(!list.isEmpty());
    refit();
}

void FeedItemSheet::refreshRow(FeedItemRow* row, const FeedApprovalItem& item)
{
    row->setItem(item, showsOrigin(), subtitleColor());
    row->setAction(m_runner->state(item.id));
}

void FeedItemSheet::refit()
{
    int height = m_list->hasHeightForWidth() ? m_list->totalHeightForWidth(innerWidth()) : -1;
    if (height < 0)
        height = m_listBody->sizeHint().height();
    m_scroll->setFixedHeight(qMin(kListMaxHeight, height));
    Sheet::refit();
}

void FeedItemSheet::setAction(const QString& itemId, const PermActionState& state)
{
    m_runner->set(itemId, state);
}

void FeedItemSheet::runAction(
    const FeedApprovalItem& item, const QString& working, const QString& done, ActionRunnerBase::Operation request)
{
    // Runs to its end even when the sheet is closed meanwhile.
    m_runner->run(item.id, working, done, std::move(request));
}
