#include "gui/workspaces/PairingSection.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/Graphemes.h"
#include "core/workspaces/QRImage.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/OutcomeLine.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/RoundedPlate.h"
#include "gui/design/SecondaryButton.h"
#include "gui/workspaces/PairingSheet.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QSet>
#include <QVBoxLayout>

PairingSection::PairingSection(WorkspaceCatalog* catalog, QWidget* parent)
    : QWidget(parent)
    , m_catalog(catalog)
{
    setObjectName(QStringLiteral("qr.section"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);

    auto* title = new QHBoxLayout;
    title->setSpacing(10);
    title->addWidget(DSText::label(QStringLiteral("连接手机"), DSFont::extraBold(17), DS::ink(), this));
    title->addStretch(1);
    m_toggle = new SecondaryButton(
        QStringLiteral("显示二维码"), QStringLiteral("qr.toggle"), [this] { setQrExpanded(true); }, this);
    title->addWidget(m_toggle);
    stack->addLayout(title);

    // The entry card's plate: ink2 at 0.05 with a hairline inside its edge.
    m_card = new RoundedPlate(DS::muted(0.05), 12, DS::hair(), this);
    m_card->setObjectName(QStringLiteral("qr.entryCard"));
    auto* card = new QHBoxLayout(m_card);
    card->setContentsMargins(12, 12, 12, 12);
    card->setSpacing(12);
    auto* icon = new Icon(QStringLiteral("qrcode"), 26, DS::muted(0.45), m_card);
    icon->setFixedSize(32, 32);
    card->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    words->addWidget(
        DSText::label(QStringLiteral("扫码把手机连到这台电脑"), DSFont::semiBold(12.5), DS::ink(), m_card));
    m_description = new ProseLabel(QString(), m_card);
    m_description->setFont(DSFont::medium(11));
    DSText::setColour(m_description, DS::muted(0.5));
    words->addWidget(m_description, 0, Qt::AlignLeft);
    m_entryOutcome = new OutcomeLine(11, m_card);
    m_entryOutcome->setObjectName(QStringLiteral("qr.entryCard.outcome"));
    words->addWidget(m_entryOutcome);
    card->addLayout(words, 1);
    card->addSpacing(8);
    m_entryCopy = new SecondaryButton(
        QStringLiteral("复制链接"), [this] { copyFreshLink(); }, m_card);
    card->addWidget(m_entryCopy, 0, Qt::AlignTop);
    stack->addWidget(m_card);

    if (m_catalog) {
        connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &PairingSection::refresh);
        connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, &PairingSection::refresh);
        connect(m_catalog, &WorkspaceCatalog::pairLinkChanged, this, &PairingSection::refresh);
    }
    refresh();
}

PairingSection::~PairingSection()
{
    // The sheet belongs to the window, not to the section.
    delete m_sheet.data();
}

QString PairingSection::entryText(int workspaces, int otherGateway)
{
    if (otherGateway == 0)
        return QStringLiteral("一次扫码带走这台电脑上全部 ") + QString::number(workspaces)
            + QStringLiteral(" 个工作区，") + QStringLiteral("换项目不用重扫。码里只有配对身份，不含任何工作区凭据。");
    return QStringLiteral("一次扫码带走这台电脑上和当前工作区同一个网关的 ") + QString::number(workspaces)
        + QStringLiteral(" 个工作区，换项目不用重扫；另外 ") + QString::number(otherGateway)
        + QStringLiteral(" 个在别的网关上，这个码带不走。码里只有配对身份，不含任何工作区凭据。");
}

QString PairingSection::carriedText(const QStringList& carried, const QStringList& leftOut)
{
    if (leftOut.isEmpty())
        return entryText(int(carried.size()), 0);
    // A few names, each short enough for the card; the sheet lists them all.
    const auto named = [](const QStringList& names) {
        constexpr qsizetype kNamed = 3;
        QStringList shown;
        for (const QString& name : names.mid(0, kNamed))
            shown.append(Graphemes::cut(name, 40));
        return shown.join(QStringLiteral("、")) + (names.size() > kNamed ? QStringLiteral(" 等") : QString());
    };
    return QStringLiteral("一次扫码带走这台电脑上的 ") + QString::number(carried.size()) + QStringLiteral(" 个工作区（")
        + named(carried) + QStringLiteral("），换项目不用重扫；另外 ") + QString::number(leftOut.size())
        + QStringLiteral(" 个（") + named(leftOut)
        + QStringLiteral("）这个码没有带上，原因见「显示二维码」。码里只有配对身份，不含任何工作区凭据。");
}

void PairingSection::refresh()
{
    const int count = m_catalog ? int(m_catalog->records().size()) : 0;
    m_toggle->setVisible(count > 0);
    m_card->setVisible(count > 0);
    if (m_catalog && m_catalog->pairLink()) {
        // A code is out: what it carries, as the gateway took it; every
        // other workspace (one paired since included) is left out.
        QStringList carried;
        QSet<QString> ids;
        for (const WorkspaceRecord& r : m_catalog->pairLinkWorkspaces()) {
            carried.append(r.config.displayName());
            ids.insert(r.id());
        }
        QStringList leftOut;
        for (const WorkspaceRecord& r : m_catalog->records())
            if (!ids.contains(r.id()))
                leftOut.append(r.config.displayName());
        m_description->setText(carriedText(carried, leftOut));
        return;
    }
    // What a code asked for now carries: the selected workspace's gateway's workspaces.
    const WorkspaceCatalog::PairScope scope = m_catalog ? m_catalog->pairScope() : WorkspaceCatalog::PairScope();
    m_description->setText(entryText(int(scope.carried.size()), int(scope.otherGateway.size())));
}

void PairingSection::setQrExpanded(bool expanded)
{
    if (expanded == qrExpanded()) {
        if (m_sheet)
            m_sheet->raise();
        return;
    }
    if (!expanded) {
        m_sheet->reject();
        return;
    }
    DeskCrumbs::drop(QStringLiteral("qr.toggle expanded=true"));
    // The sheet is window-modal over the whole window; the side is read each time.
    m_sheet = new PairingSheet(m_catalog, QRImage::sideOverride().value_or(QRImage::kDefaultSide), window());
    connect(m_sheet.data(), &PairingSheet::copyRequested, this, [this](const QString& link) {
        copyPairLink(link);
        // The notice banner lies behind the sheet: the sheet says it too.
        if (m_sheet)
            m_sheet->showCopied();
    });
    // Any dismissal (the button, Escape, the window going) ends the presentation.
    connect(m_sheet.data(), &QDialog::finished, this, [this] {
        DeskCrumbs::drop(QStringLiteral("qr.toggle expanded=false"));
        if (m_sheet)
            m_sheet->deleteLater();
        m_sheet = nullptr;
    });
    m_sheet->open();
}

void PairingSection::copyPairLink(const QString& link)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(link);
    }
    emit notice(QStringLiteral("链接已复制"), false);
}

QString PairingSection::overtakenText()
{
    return QStringLiteral("配对码刚在二维码那边重新取过，这次没有复制；再按一次「复制链接」");
}

QCoro::Task<> PairingSection::copyFreshLink()
{
    QPointer<PairingSection> self(this);
    QPointer<WorkspaceCatalog> catalog = m_catalog;
    // One press, one pairing request: a second press (a double click) waits for this one's answer.
    m_entryCopy->setEnabled(false);
    m_entryOutcome->setOutcome(OutcomeLine::Kind::Working, QStringLiteral("正在取配对码…"));
    bool latest = false;
    if (catalog) {
        auto fetch = catalog->refreshPairLink();
        latest = co_await std::move(fetch);
    }
    if (!self)
        co_return;
    m_entryCopy->setEnabled(true);
    // The button waits while its fetch is out, so only the sheet's fetch can
    // overtake this one; what it answers is not this press's to copy.
    if (latest && catalog && catalog->pairLink()) {
        copyPairLink(*catalog->pairLink());
        m_entryOutcome->setOutcome(OutcomeLine::Kind::Ok, QStringLiteral("链接已复制"));
    } else if (latest && catalog && catalog->pairLinkError()) {
        // Nothing was copied: say why rather than leave the press unanswered.
        emit notice(*catalog->pairLinkError(), true);
        m_entryOutcome->setOutcome(OutcomeLine::Kind::Failed, *catalog->pairLinkError());
    } else {
        m_entryOutcome->setOutcome(OutcomeLine::Kind::Failed, overtakenText());
    }
    emit copyFinished();
}
