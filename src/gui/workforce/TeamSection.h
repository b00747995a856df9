#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "gui/design/KeyedReconciler.h"

#include <QHash>

#include <QPointer>
#include <QWidget>

#include <optional>

class AdaptiveColumns;
class AimGuard;
class Card;
class EmployeeCard;
class EmployeeDetailBody;
class EmptyState;
class ErrorBanner;
class LiveTaskBoard;
class QVBoxLayout;
class SkeletonCards;
class WindowController;

// The window's "AI 团队" section: the roster's error, or its empty state, or
// the live task board, the grid of employee cards and, below it, the detail
// of the employee the user opened. It reads the controller's shared
// workforce derivation and its record of the open employee; cards and the
// detail are kept by employee id, so a reload repaints what changed and
// nothing else. A card is made as it comes into view of the page (or the
// keyboard reaches it). Identifier "team.section".
class TeamSection : public QWidget {
    Q_OBJECT
public:
    explicit TeamSection(WindowController* controller, QWidget* parent = nullptr);

    // The width the window has for its sections; the grid's columns follow it.
    void setContentWidth(qreal width);

    // Redraws from the models now (their signals do it when they publish).
    void refresh();

    LiveTaskBoard* liveBoard() const { return m_board; }
    AdaptiveColumns* grid() const { return m_grid; }
    ErrorBanner* errorBanner() const { return m_error; }
    ErrorBanner* commandsErrorBanner() const { return m_commandsError; }
    EmptyState* emptyState() const { return m_empty; }
    // The placeholders shown while the roster is being read.
    SkeletonCards* skeleton() const { return m_loading; }
    // An employee's card, once made; the cards made, in roster order.
    EmployeeCard* card(const QString& employeeID) const;
    QList<EmployeeCard*> cards() const;
    // The open employee's pane and the card around it; null when none is open.
    EmployeeDetailBody* detail() const;
    Card* detailCard() const;

private:
    // Outlives the section: the window destroys its views first.
    WindowController* m_controller;
    ErrorBanner* m_error;
    ErrorBanner* m_commandsError;
    EmptyState* m_empty;
    SkeletonCards* m_loading;
    LiveTaskBoard* m_board;
    AdaptiveColumns* m_grid;
    AimGuard* m_aim;
    // The roster the cards show, by id, as of the last redraw.
    QHash<QString, TeammateBrief> m_members;
    QVBoxLayout* m_detailSlot;
    KeyedReconciler<QString, Card> m_detail;
    // The configuration the open pane's evidence was made with.
    std::optional<CLIConfig> m_detailCfg;
    // The user has opened an employee: its detail, below the whole grid, is
    // brought into view once it is there.
    bool m_revealDetail = false;
};
