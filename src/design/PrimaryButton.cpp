#include "design/PrimaryButton.h"

#include "design/BusyIndicator.h"
#include "design/DS.h"
#include "design/DSFont.h"

#include <QHBoxLayout>
#include <QLabel>

PrimaryButton::PrimaryButton(const QString& title, bool busy, bool fill, const std::optional<QString>& identifier,
                             std::function<void()> action, QWidget* parent)
    : FaceButton(title, identifier, std::move(action), parent)
    , m_title(title)
    , m_fill(fill)
    , m_spinner(new BusyIndicator(DS::deepInk(), 13, this))
{
    setFace(DSFont::bold(12.5), DS::deepInk(), DS::mint());
    setPadding(fill ? 0 : 14, 9);
    row()->insertWidget(0, m_spinner);
    if (fill) {
        // The row stays centred in the full width.
        row()->insertStretch(0, 1);
        row()->addStretch(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    m_spinner->setVisible(false);
    setBusy(busy);
}

void PrimaryButton::setTitle(const QString& title)
{
    m_title = title;
    setText(title);
    setAccessibleName(title);
    if (!m_busy)
        setShownText(title);
}

void PrimaryButton::setBusy(bool busy)
{
    m_busy = busy;
    m_spinner->setVisible(busy);
    setShownText(busy ? QStringLiteral("处理中…") : m_title);
    setFillColour(busy ? DS::at(DS::mint(), 0.55) : DS::mint());
    setEnabled(!busy);
    applyTextColour();
    updateGeometry();
}
