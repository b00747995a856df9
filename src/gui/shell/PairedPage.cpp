#include "gui/shell/PairedPage.h"

#include "core/design/DS.h"
#include "gui/design/Style.h"
#include "gui/shell/AboutSection.h"

#include <QPainter>

namespace {

// The summary strip and two rows of cards, as faint plates; no text, so the
// first frame loads no font for it.
class PagePlaceholder : public QWidget {
public:
    PagePlaceholder()
    {
        setObjectName(QStringLiteral("paired.placeholder"));
        setAccessibleName(QStringLiteral("正在打开这个工作区"));
        setFixedHeight(kSummary + 2 * (kGap + kCard));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const auto plate = [&p](const QRectF& r) { Style::paintPlate(p, r, 12, DS::muted(0.05)); };
        const qreal w = width();
        plate(QRectF(0, 0, w, kSummary));
        const qreal half = (w - kGap) / 2;
        for (int row = 0; row < 2; ++row) {
            const qreal y = kSummary + kGap + row * (kCard + kGap);
            plate(QRectF(0, y, half, kCard));
            plate(QRectF(half + kGap, y, half, kCard));
        }
    }

private:
    static constexpr int kSummary = 64;
    static constexpr int kCard = 120;
    static constexpr int kGap = 12;
};

} // namespace

PairedPage::PairedPage(QWidget* parent)
    : SectionStack(20, parent)
{
    setObjectName(QStringLiteral("paired.page"));
    m_about = new AboutSection;
    setSection(About, m_about);
}

void PairedPage::setPlaceholder(bool shown)
{
    if (shown == placeholderShown())
        return;
    setSection(kPlaceholder, shown ? new PagePlaceholder : nullptr);
    m_about->setVisible(!shown);
}
