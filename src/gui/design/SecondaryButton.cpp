#include "gui/design/SecondaryButton.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"

SecondaryButton::SecondaryButton(
    const QString& title, const std::optional<QString>& identifier, std::function<void()> action, QWidget* parent)
    : FaceButton(title, identifier, std::move(action), parent)
{
    setFace(DSFont::semiBold(12), DS::ink(), DS::muted(0.08));
    setPadding(13, 8);
}
