#include "gui/design/DangerButton.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"

DangerButton::DangerButton(
    const QString& title, const std::optional<QString>& identifier, std::function<void()> action, QWidget* parent)
    : FaceButton(title, identifier, std::move(action), parent)
{
    setFace(DSFont::bold(12), DS::danger(), DS::at(DS::dangerFill(), 0.12), DS::at(DS::dangerFill(), 0.3));
    setPadding(13, 8);
}
