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
    , m_reload(std::move(reload))
{
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
    for (auto it = m_action.begin(); it != m_action.end();) {
        if (shown.contains(it.key()))
            ++it;
        else
            it = m_action.erase(it);
    }

    m_empty->setVisible(list.isEmpty());
    m_scroll->setVisible(!list.isEmpty());
    refit();
}

void FeedItemSheet::refreshRow(FeedItemRow* row, const FeedApprovalItem& item)
{
    row->setItem(item, showsOrigin(), subtitleColor());
    row->setAction(m_action.value(item.id));
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
    m_action.insert(itemId, state);
    if (FeedItemRow* row = m_rows.find(itemId)) {
        row->setAction(state);
        refit();
    }
}

void FeedItemSheet::runAction(const FeedApprovalItem& item, const QString& working, const QString& done,
    std::function<QCoro::Task<Result<>>()> request)
{
    setAction(item.id, PermActionState::working(working));
    // Runs to its end even when the sheet is closed meanwhile.
    course(item.id, done, std::move(request));
}

QCoro::Task<> FeedItemSheet::course(QString itemId, QString done, std::function<QCoro::Task<Result<>>()> request)
{
    QPointer<FeedItemSheet> self(this);
    QPointer<Status> status = m_status;
    const Reload reload = m_reload;

    const Result<> result = co_await request();
    if (self) {
        self->setAction(itemId,
            result.ok() ? PermActionState::ok(done, QDateTime::currentDateTime())
                        : PermActionState::failed(PermActionState::failureText(result.failure())));
    }
    if (reload)
        co_await reload();
    else if (status)
        co_await status->reload(status->config());
    if (self)
        emit self->actionFinished(itemId);
}
