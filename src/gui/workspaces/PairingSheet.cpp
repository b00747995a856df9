#include "gui/workspaces/PairingSheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/Icon.h"
#include "gui/design/OutcomeLine.h"
#include "gui/design/SecondaryButton.h"
#include "gui/workspaces/QRView.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

namespace {

constexpr int kPadding = 20;
constexpr int kGap = 16;
constexpr int kDetailWidth = 260;
constexpr int kStatusWidth = 380;
constexpr int kLoadingHeight = 200;
constexpr int kLinkLines = 4;

// Selectable link text that wraps anywhere (a link has no spaces to wrap at)
// and shows at most four lines; the rest is cut off.
class LinkText : public QPlainTextEdit {
public:
    explicit LinkText(QWidget* parent)
        : QPlainTextEdit(parent)
    {
        setReadOnly(true);
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWordWrapMode(QTextOption::WrapAnywhere);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setContextMenuPolicy(Qt::NoContextMenu);
        document()->setDocumentMargin(0);
        setViewportMargins(0, 0, 0, 0);
        setContentsMargins(0, 0, 0, 0);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setFont(DSFont::monoMedium(10));
        QPalette p = palette();
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            p.setColor(group, QPalette::Base, Qt::transparent);
            p.setColor(group, QPalette::Text, DS::muted(0.45));
        }
        setPalette(p);
        setFixedWidth(kDetailWidth);
    }

    void setLink(const QString& link)
    {
        setPlainText(link);
        setAccessibleName(link);
        // The lines the text takes at this width, as the editor lays them out.
        QTextLayout layout(link, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAnywhere);
        layout.setTextOption(option);
        int lines = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            // A little narrower than the editor, so that a line is never undercounted.
            line.setLineWidth(kDetailWidth - 4);
            ++lines;
        }
        layout.endLayout();
        const QFontMetrics fm(font());
        setFixedHeight(qBound(1, lines, kLinkLines) * fm.lineSpacing() + 2);
    }
};

QWidget* workspaceRow(QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    h->addWidget(new Icon(QStringLiteral("folder"), 10, DS::muted(0.55), row), 0, Qt::AlignVCenter);
    // A long name is cut with an ellipsis, not through a character; the whole name is its tool tip.
    auto* name = new ElidedLine(Qt::ElideRight, QString(), row);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(DSFont::medium(11));
    DSText::setColour(name, DS::muted(0.55));
    h->addWidget(name, 1);
    return row;
}

} // namespace

PairingSheet::PairingSheet(WorkspaceCatalog* catalog, double side, QWidget* parent)
    : Sheet(QStringLiteral("qr.sheet"), QStringLiteral("扫码把手机连到这台电脑"),
        2 * kPadding + qRound(side) + kGap + kDetailWidth, parent)
    , m_catalog(catalog)
    , m_side(side)
{
    QVBoxLayout* col = column();
    col->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    col->setSpacing(14);

    auto* heading = new QHBoxLayout;
    heading->addWidget(DSText::label(QStringLiteral("扫码把手机连到这台电脑"), DSFont::extraBold(17), DS::ink(), this));
    heading->addSpacing(12);
    heading->addStretch(1);
    // Escape closes the sheet too (QDialog's own key).
    heading->addWidget(new SecondaryButton(
        QStringLiteral("收起二维码"), QStringLiteral("qr.collapse"), [this] { reject(); }, this));
    col->addLayout(heading);
    // What is on show scrolls on a screen too short for it; the close button stays.
    QVBoxLayout* body = addScrollingColumn();

    m_loading = new QWidget(this);
    m_loading->setObjectName(QStringLiteral("qr.loading"));
    m_loading->setFixedSize(kStatusWidth, kLoadingHeight);
    auto* loading = new QVBoxLayout(m_loading);
    loading->setSpacing(8);
    loading->addStretch(1);
    loading->addWidget(new BusyIndicator(DS::muted(0.6), 18, m_loading), 0, Qt::AlignHCenter);
    loading->addWidget(DSText::label(QStringLiteral("正在取配对码…"), DSFont::medium(11.5), DS::muted(0.6), m_loading),
        0, Qt::AlignHCenter);
    loading->addStretch(1);
    body->addWidget(m_loading);

    m_error = new QWidget(this);
    m_error->setObjectName(QStringLiteral("qr.error"));
    m_error->setFixedWidth(kStatusWidth);
    auto* error = new QHBoxLayout(m_error);
    error->setContentsMargins(0, 0, 0, 0);
    error->setSpacing(6);
    error->addWidget(new Icon(QStringLiteral("exclamationmark.triangle"), 11.5, DS::amber(), m_error), 0, Qt::AlignTop);
    m_errorText = DSText::label(QString(), DSFont::semiBold(11.5), DS::amber(), m_error);
    m_errorText->setWordWrap(true);
    error->addWidget(m_errorText, 1);
    body->addWidget(m_error);

    m_linkArea = new QWidget(this);
    auto* linkRow = new QHBoxLayout(m_linkArea);
    linkRow->setContentsMargins(0, 0, 0, 0);
    linkRow->setSpacing(kGap);
    m_codeSlot = new QVBoxLayout;
    m_codeSlot->setContentsMargins(0, 0, 0, 0);
    linkRow->addLayout(m_codeSlot);
    auto* detail = new QWidget(m_linkArea);
    detail->setFixedWidth(kDetailWidth);
    auto* detailColumn = new QVBoxLayout(detail);
    detailColumn->setContentsMargins(0, 0, 0, 0);
    detailColumn->setSpacing(8);
    QLabel* intro = DSText::label(PairingSheet::intro(), DSFont::medium(11.5), DS::muted(0.6), detail);
    intro->setWordWrap(true);
    detailColumn->addWidget(intro);
    auto* rows = new QWidget(detail);
    m_rowsLayout = new QVBoxLayout(rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(4);
    detailColumn->addWidget(rows);
    m_leftOut = DSText::label(QString(), DSFont::medium(11), DS::amber(), detail);
    m_leftOut->setObjectName(QStringLiteral("qr.leftOut"));
    m_leftOut->setWordWrap(true);
    detailColumn->addWidget(m_leftOut);
    m_link = new LinkText(detail);
    detailColumn->addWidget(m_link);
    m_copy = new SecondaryButton(
        QStringLiteral("复制链接"), [this] { emit copyRequested(m_shownLink); }, detail);
    detailColumn->addWidget(m_copy, 0, Qt::AlignLeft);
    m_copyOutcome = new OutcomeLine(11, detail);
    m_copyOutcome->setObjectName(QStringLiteral("qr.copy.outcome"));
    detailColumn->addWidget(m_copyOutcome);
    m_unreachable = DSText::label(unreachable(), DSFont::semiBold(11.5), DS::amber(), detail);
    m_unreachable->setObjectName(QStringLiteral("qr.unreachable"));
    m_unreachable->setWordWrap(true);
    m_unreachable->setVisible(false);
    detailColumn->addWidget(m_unreachable);
    QLabel* warn = DSText::label(warning(), DSFont::medium(11), DS::amber(), detail);
    warn->setWordWrap(true);
    detailColumn->addWidget(warn);
    detailColumn->addStretch(1);
    linkRow->addWidget(detail, 0, Qt::AlignTop);
    linkRow->addStretch(1);
    body->addWidget(m_linkArea);

    if (m_catalog)
        connect(m_catalog, &WorkspaceCatalog::pairLinkChanged, this, &PairingSheet::refresh);
    refresh();
}

QString PairingSheet::intro()
{
    return QStringLiteral("二维码绑定这台电脑的配对身份。扫码后在手机上选择工作区，不需要为每个项目重新扫码。");
}

QString PairingSheet::warning()
{
    return QStringLiteral("⚠️ 链接里是一把 10 "
                          "分钟有效的配对码（不含任何工作区凭据），过期就作废；仍然只发给你自己的设备。");
}

QString PairingSheet::unreachable()
{
    return QStringLiteral("码里的网关地址只有这台电脑自己连得上（本机回环地址），手机扫了也连不上。"
                          "请在这台电脑上运行 Avahi（avahi-daemon），让它有一个 .local 名字；"
                          "或者用手机能访问到的地址给网关配对，再重新打开这里。");
}

void PairingSheet::showEvent(QShowEvent* event)
{
    Sheet::showEvent(event);
    // Each presentation fetches one fresh link; the catalogue owns the request,
    // so closing the sheet leaves nothing of it waiting.
    if (!m_fetched && m_catalog) {
        m_fetched = true;
        m_catalog->refreshPairLink();
    }
}

void PairingSheet::showCopied()
{
    m_copyOutcome->setOutcome(OutcomeLine::Kind::Ok, QStringLiteral("链接已复制"));
    if (isVisible())
        refit();
}

void PairingSheet::refresh()
{
    const std::optional<QString> link = m_catalog ? m_catalog->pairLink() : std::nullopt;
    const std::optional<QString> error = m_catalog ? m_catalog->pairLinkError() : std::nullopt;
    if (link) {
        m_content = Content::Link;
        if (!m_qr) {
            m_qr = new QRView(*link, m_side, m_linkArea);
            m_codeSlot->addWidget(m_qr, 0, Qt::AlignTop);
        } else {
            m_qr->setText(*link);
        }
        if (*link != m_shownLink) {
            m_shownLink = *link;
            // A copied link is no longer the one on show.
            m_copyOutcome->setOutcome(OutcomeLine::Kind::Idle, QString());
            static_cast<LinkText*>(m_link)->setLink(*link);
        }
        refreshRecords();
        m_unreachable->setVisible(m_catalog->pairLinkLoopback());
    } else if (error) {
        m_content = Content::Error;
        m_errorText->setText(*error);
    } else {
        m_content = Content::Loading;
    }
    m_loading->setVisible(m_content == Content::Loading);
    m_error->setVisible(m_content == Content::Error);
    m_linkArea->setVisible(m_content == Content::Link);
    if (isVisible())
        refit();
}

QString PairingSheet::leftOutText(const QList<WorkspaceCatalog::LeftOut>& leftOut)
{
    QStringList lines { QStringLiteral("这个码没有带上：") };
    for (const WorkspaceCatalog::LeftOut& l : leftOut)
        lines.append(QStringLiteral("· ") + l.record.config.displayName() + QStringLiteral("：") + l.reason);
    return lines.join(QLatin1Char('\n'));
}

// The workspaces the link on show carries, and those it leaves out with why.
void PairingSheet::refreshRecords()
{
    if (!m_catalog)
        return;
    const QList<WorkspaceCatalog::LeftOut>& leftOut = m_catalog->pairLinkLeftOut();
    m_leftOut->setText(leftOut.isEmpty() ? QString() : leftOutText(leftOut));
    m_leftOut->setVisible(!leftOut.isEmpty());
    const QList<QWidget*> rows = m_rows.reconcile(
        m_catalog->pairLinkWorkspaces(), [](const WorkspaceRecord& r) { return r.id(); },
        [this](const WorkspaceRecord&) { return workspaceRow(m_rowsLayout->parentWidget()); },
        [](QWidget* row, const WorkspaceRecord& r) {
            auto* name = row->findChild<ElidedLine*>(QStringLiteral("name"));
            name->setText(r.config.displayName());
            name->setToolTip(r.config.displayName());
        });
    KeyedLayout::place(m_rowsLayout, rows);
    if (isVisible())
        refit();
}
