#pragma once

#include <QDialog>
#include <QPointer>

class QAbstractButton;
class QScrollArea;
class QVBoxLayout;

// A window-modal sheet in the product's look: a fixed width, the background
// colour and one column with 18-point margins. Its height follows its content
// at that width, measured again whenever it is shown or refit() is called,
// and never exceeds the screen's available height: its scrolling part (its
// list, say) gives up the height the screen has not, so that what follows it,
// the buttons, always shows. A sheet that grows past the screen's edge once
// shown is moved back onto it.
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
    int innerWidth() const;
    // Adds the sheet's scrolling part to the column here and returns the
    // column its rows go into (no margins). It is as tall as its rows, at most
    // `cap`, and less when the sheet would not fit on the screen.
    QVBoxLayout* addScrollingColumn(int cap = QWIDGETSIZE_MAX);
    QScrollArea* scrollingPart() const { return m_scrolling; }
    // Measures the sheet again; sheets whose content changed call it.
    virtual void refit();
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The height the sheet's screen leaves it, its frame aside.
    int screenRoom() const;
    // The column's height at the sheet's width.
    int wantedHeight() const;

    int m_width;
    QScrollArea* m_scrolling = nullptr;
    int m_scrollingCap = QWIDGETSIZE_MAX;
    QPointer<QAbstractButton> m_default;
    QVBoxLayout* m_column;
};
