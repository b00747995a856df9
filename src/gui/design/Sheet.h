#pragma once

#include <QDialog>

class QVBoxLayout;

// A window-modal sheet in the product's look: a fixed width, the background
// colour and one column with 18-point margins. Its height follows its content
// at that width, measured again whenever it is shown or refit() is called.
class Sheet : public QDialog {
    Q_OBJECT
public:
    Sheet(const QString& identifier, const QString& title, int width, QWidget* parent = nullptr);

protected:
    static constexpr int kMargin = 18;

    QVBoxLayout* column() const { return m_column; }
    // The width inside the margins.
    int innerWidth() const { return m_width - 2 * kMargin; }
    // Sheets with a scrolling part size it first, then call the base.
    virtual void refit();
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    int m_width;
    QVBoxLayout* m_column;
};
