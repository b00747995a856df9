#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "gui/design/KeyedReconciler.h"

#include <QWidget>

#include <optional>

class Disclosure;
class EmptyState;
class RoundedPlate;
class QLabel;
class QVBoxLayout;

// Every machine that has come to the gateway for work, with the age of its
// heartbeat; this computer is named as such and marked "本机". Rows are kept
// by device id. Absent while the command list cannot be read; an empty state
// while no machine has come yet.
class RunnersCard : public QWidget {
    Q_OBJECT
public:
    explicit RunnersCard(QWidget* parent = nullptr);

    struct Content {
        QList<RunnerInfo> runners;
        std::optional<CLIConfig> config;
        QList<CommandBrief> commands;
        bool commandsFailed = false;

        bool operator==(const Content&) const = default;
    };
    void setContent(const Content& content);

    // The row of a device ("agents.row." + device id); null when not shown.
    QWidget* row(const QString& deviceID) const { return m_rows.find(deviceID); }

private:
    // What the card shows now: the same content again changes nothing.
    std::optional<Content> m_shown;
    EmptyState* m_empty;
    RoundedPlate* m_plate;
    QLabel* m_header;
    QVBoxLayout* m_rowsLayout;
    KeyedReconciler<QString> m_rows;
    QVBoxLayout* m_diagLayout;
    KeyedReconciler<QString> m_diag;
    Disclosure* m_details;
};
