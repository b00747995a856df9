#pragma once

#include <QWidget>

#include <optional>

class Disclosure;
class QLabel;
class QVBoxLayout;

// A failure in one amber sentence, with its technical detail (the evidence)
// folded under "诊断" and selectable for copying. The fold exists only when
// there is evidence; whether it is open is kept while the banner lives.
class ErrorBanner : public QWidget {
    Q_OBJECT
public:
    ErrorBanner(const QString& text, const std::optional<QString>& evidence = std::nullopt,
        const std::optional<QString>& identifier = std::nullopt, QWidget* parent = nullptr);

    // New texts for the same banner (an open fold stays open).
    void setContent(const QString& text, const std::optional<QString>& evidence);

    QLabel* textLabel() const { return m_text; }
    // Null while there is no evidence.
    Disclosure* evidenceFold() const { return m_fold; }
    QLabel* evidenceLabel() const { return m_evidence; }
    bool showsEvidence() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_stack;
    QLabel* m_text;
    Disclosure* m_fold = nullptr;
    QLabel* m_evidence = nullptr;
    bool m_showEvidence = false;
};
