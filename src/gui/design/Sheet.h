#pragma once

#include <QDialog>
#include <QPointer>

class QAbstractButton;
class QVBoxLayout;

// A window-modal sheet in the product's look: a fixed width, the background
// colour and one column with 18-point margins. Its height follows its content
// at that width, measured again whenever it is shown or refit() is called.
// Enter presses the button that has the keyboard, else the sheet's default
// button (its primary action); a field that takes Enter itself keeps it.
class Sheet : public QDialog {
    Q_OBJECT
public:
    Sheet(const QString& identifier, const QString& title, int width, QWidget* parent = nullptr);

    // The button Enter presses; none by default. Pressed only while shown and enabled.
    void setDefaultButton(QAbstractButton* button);

protected:
    static constexpr int kMargin = 18;

    QVBoxLayout* column() const { return m_column; }
    // The width inside the margins.
    int innerWidth() const { return m_width - 2 * kMargin; }
    // Sheets with a scrolling part size it first, then call the base.
    virtual void refit();
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_width;
    QPointer<QAbstractButton> m_default;
    QVBoxLayout* m_column;
};
