#pragma once

#include "core/gateway/CLIConfig.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

// "关于 / 高级": which build runs and which gateway the selected workspace was
// paired with, as selectable text for support conversations. Both pages end
// with one.
class AboutSection : public QWidget {
    Q_OBJECT
public:
    explicit AboutSection(QWidget* parent = nullptr);

    // The selected workspace's configuration (none when nothing is paired) and
    // the status model's note on the origin that answered.
    void setWorkspace(const std::optional<CLIConfig>& selected, const std::optional<QString>& endpointNote);

    // The three build texts, fixed for the process.
    static QString appVersion();
    static QString appBuild();
    static QString gitCommit();
    // The rule behind gitCommit(): trimmed, or the not-injected text when it
    // is empty or an unexpanded "$(…)" reference.
    static QString commitText(const QString& raw);
    // "?" for an empty build value.
    static QString orQuestionMark(const QString& value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* addRow(QVBoxLayout* card, const QString& label, const QString& value, const QString& id);

    QLabel* m_api;
    QLabel* m_note;
    QList<QLabel*> m_values;
    bool m_selectionQueued = false;
};
