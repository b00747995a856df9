#pragma once

#include "gui/design/FaceButton.h"

// The button of a destructive action, in the danger colours. Never disables
// itself and asks for no confirmation (that is the caller's business).
class DangerButton : public FaceButton {
    Q_OBJECT
public:
    DangerButton(const QString& title, const std::optional<QString>& identifier, std::function<void()> action,
        QWidget* parent = nullptr);
    DangerButton(const QString& title, std::function<void()> action, QWidget* parent = nullptr)
        : DangerButton(title, std::nullopt, std::move(action), parent)
    {
    }
};
