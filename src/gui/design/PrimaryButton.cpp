#include "gui/design/PrimaryButton.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/BusyIndicator.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

PrimaryButton::PrimaryButton(const QString& title, bool busy, bool fill, const std::optional<QString>& identifier,
    std::function<void()> action, QWidget* parent)
    : FaceButton(title, identifier, std::move(action), parent)
    , m_title(title)
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

void PrimaryButton::setBusy(bool busy)
{
    const bool changed = busy != m_busy;
    if (busy && !m_busy)
        m_disabledOutside = testAttribute(Qt::WA_ForceDisabled);
    m_busy = busy;
    m_spinner->setVisible(busy);
    const QString shown = busy ? QStringLiteral("处理中…") : m_title;
    setShownText(shown);
    setAccessibleName(shown);
    setFillColour(busy ? DS::at(DS::mint(), 0.55) : DS::mint());
    // Busy disables the button; clearing busy gives back the state the
    // caller had set before.
    m_applying = true;
    setEnabled(!busy && !m_disabledOutside);
    m_applying = false;
    applyTextColour();
    // The same state again leaves the page's layout alone.
    if (changed)
        updateGeometry();
}

void PrimaryButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !m_applying && m_busy) {
        // Enabled from outside while busy: remember it for later, stay disabled now.
        if (!testAttribute(Qt::WA_ForceDisabled)) {
            m_disabledOutside = false;
            m_applying = true;
            setEnabled(false);
            m_applying = false;
        }
    }
    FaceButton::changeEvent(event);
}
