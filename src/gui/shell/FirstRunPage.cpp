#include "gui/shell/FirstRunPage.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/CLI.h"
#include "gui/design/DSText.h"
#include "gui/design/Disclosure.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/ProseLabel.h"
#include "gui/shell/AboutSection.h"

#include <QLabel>

namespace {
constexpr int kControlWidth = 420;
} // namespace

FirstRunPage::FirstRunPage(QWidget* parent)
    : SectionStack(14, parent)
{
    setObjectName(QStringLiteral("firstrun.page"));

    QLabel* title = DSText::label(QStringLiteral("选一个项目文件夹"), DSFont::extraBold(20), DS::ink());
    title->setObjectName(QStringLiteral("firstrun.title"));
    setSection(Title, title);

    auto* explanation = new ProseLabel(QStringLiteral(
        "Tolvarine 会在这个目录里替你干活。它调的是你自己电脑上装的 Claude Code / Codex —— 不要任何模型 API key。"));
    explanation->setObjectName(QStringLiteral("firstrun.explanation"));
    explanation->setFont(DSFont::medium(12.5));
    DSText::setColour(explanation, DS::muted(0.6));
    setSection(Explanation, explanation, Qt::AlignLeft);

    m_pair = new PrimaryButton(
        QStringLiteral("选择文件夹并配对"), false, true, std::nullopt, [this] { emit pairRequested(); });
    m_pair->setObjectName(QStringLiteral("firstrun.pair"));
    m_pair->setMaximumWidth(kControlWidth);
    setSection(PairButton, m_pair);

    // Pairing runs the companion tool: without it the button can only fail.
    m_toolMissing = new ProseLabel(CLI::NotFound::description());
    m_toolMissing->setObjectName(QStringLiteral("firstrun.toolMissing"));
    m_toolMissing->setFont(DSFont::semiBold(11.5));
    DSText::setColour(m_toolMissing, DS::amber());
    m_toolMissing->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_toolMissing->setMaximumWidth(kControlWidth);
    m_toolMissing->hide();
    setSection(ToolMissing, m_toolMissing);

    m_hintText = new ProseLabel;
    m_hintText->setObjectName(QStringLiteral("firstrun.hintText"));
    DSText::setMarkup(
        m_hintText, QStringLiteral("在项目目录里跑 `brenlow pair`。两条路读写同一份配置，在哪边配的，另一边都认。"));
    m_hintText->setFont(DSFont::medium(11.5));
    DSText::setColour(m_hintText, DS::muted(0.55));
    m_hintText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hintText->setContentsMargins(0, 4, 0, 0);
    // As wide as the disclosure around it can be, so that it is measured at the width it is drawn.
    m_hintText->setMaximumWidth(kControlWidth);
    m_hint = new Disclosure(QStringLiteral("用命令行做同样的事"), m_hintText);
    m_hint->setObjectName(QStringLiteral("firstrun.commandHint"));
    m_hint->setHeaderFont(DSFont::semiBold(11));
    m_hint->setTint(DS::muted(0.5));
    m_hint->setMaximumWidth(kControlWidth);
    setSection(CommandHint, m_hint);

    m_about = new AboutSection;
    setSection(About, m_about);
}

void FirstRunPage::setBusy(bool busy)
{
    m_pair->setBusy(busy);
}

void FirstRunPage::setToolMissing(bool missing)
{
    if (m_toolMissing->isHidden() == missing)
        m_toolMissing->setVisible(missing);
}
