#pragma once

#include "gui/design/Card.h"

#include <functional>
#include <optional>

class ProseLabel;
class SecondaryButton;

// The card shown in place of a list that has nothing to show: plain with grey
// text when the source was read and is empty, amber when it could not be read.
class EmptyState : public Card {
    Q_OBJECT
public:
    enum class Kind { emptyButHealthy, unreadable };

    struct Action {
        QString title;
        std::function<void()> run;
    };

    EmptyState(Kind kind, const QString& message, const std::optional<Action>& action = std::nullopt,
        QWidget* parent = nullptr);

    // Null without an action.
    SecondaryButton* actionButton() const { return m_button; }

private:
    ProseLabel* m_message;
    SecondaryButton* m_button = nullptr;
};
