#pragma once

#include "gui/design/FaceButton.h"

class BusyIndicator;

// The filled mint call to action. While busy it shows a spinner and
// "处理中…" instead of its title, dims its fill and ignores presses.
class PrimaryButton : public FaceButton {
    Q_OBJECT
public:
    // `fill`: stretch to the full width on offer (else hug the label).
    PrimaryButton(const QString& title, bool busy, bool fill, const std::optional<QString>& identifier,
        std::function<void()> action, QWidget* parent = nullptr);
    PrimaryButton(const QString& title, std::function<void()> action, QWidget* parent = nullptr)
        : PrimaryButton(title, false, false, std::nullopt, std::move(action), parent)
    {
    }

    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    BusyIndicator* spinner() const { return m_spinner; }

protected:
    bool looksDisabled() const override { return !isEnabled() && !m_busy; }
    void changeEvent(QEvent* event) override;

private:
    QString m_title;
    bool m_busy = false;
    bool m_disabledOutside = false;
    bool m_applying = false;
    BusyIndicator* m_spinner;
};
