#pragma once

#include "core/gateway/Records.h"
#include "gui/design/Card.h"

#include <QDateTime>

#include <optional>

class Disclosure;
class Icon;
class ProgressTail;
class ProseLabel;
class QLabel;

// What execution in the workspace is doing now and why, in one card tinted by
// the state: icon, title and age, the explanation, the command in 「」, the
// runtime's own words folded away, and the progress tail while a command runs.
// It explains and never acts.
class RuntimeStateCard : public Card {
    Q_OBJECT
public:
    explicit RuntimeStateCard(QWidget* parent = nullptr);

    struct Content {
        RuntimeState state;
        QDateTime now;
        QList<ProgressLine> progress;
        std::optional<QString> progressError;
        bool progressTruncated = false;
    };
    void setContent(const Content& content);

    QLabel* title() const { return m_title; }

private:
    // The age beside the title, as of `now`.
    void setTime(const QDateTime& now);

    // What the card shows now (its `now` aside): the same content again
    // only brings the age up to date.
    std::optional<Content> m_shown;
    Icon* m_icon;
    QLabel* m_title;
    QLabel* m_time;
    ProseLabel* m_headline;
    ProseLabel* m_command;
    QLabel* m_evidence;
    Disclosure* m_fold;
    ProgressTail* m_tail;
};
