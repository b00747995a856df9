#pragma once

#include "gui/design/FaceButton.h"

// The quiet grey button for the other actions. Never disables itself.
class SecondaryButton : public FaceButton {
    Q_OBJECT
public:
    SecondaryButton(const QString& title, const std::optional<QString>& identifier, std::function<void()> action,
        QWidget* parent = nullptr);
    SecondaryButton(const QString& title, std::function<void()> action, QWidget* parent = nullptr)
        : SecondaryButton(title, std::nullopt, std::move(action), parent)
    {
    }
};
