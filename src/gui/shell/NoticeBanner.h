#pragma once

#include <QString>
#include <QWidget>

class Icon;
class QLabel;
class SecondaryButton;

// The last message a user action left for the window, at the top of the page
// until the user dismisses it ("知道了") or another message replaces it.
class NoticeBanner : public QWidget {
    Q_OBJECT
public:
    explicit NoticeBanner(QWidget* parent = nullptr);

    void setNotice(const QString& text, bool isError);
    QString text() const;
    bool isError() const { return m_isError; }
    SecondaryButton* dismissButton() const { return m_dismiss; }

signals:
    void dismissed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Icon* m_icon;
    QLabel* m_text;
    SecondaryButton* m_dismiss;
    bool m_isError = false;
};
