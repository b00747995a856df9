#pragma once

#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/design/Sheet.h"

#include <QPointer>

class OutcomeLine;
class QLabel;
class QPlainTextEdit;
class QRView;
class QVBoxLayout;
class SecondaryButton;

// "扫码把手机连到这台电脑": fetches a fresh pairing link when first shown and
// shows what the catalogue publishes at each moment: the QR code beside the
// workspaces it carries (and those it leaves out, with why), the link with its copy button and the short-life
// warning; else the failure text; else the loading line. Escape and
// "收起二维码" close it. Window-modal; the host opens it with open().
class PairingSheet : public Sheet {
    Q_OBJECT
public:
    enum class Content { Loading, Error, Link };

    // `side` is the code's edge in points.
    PairingSheet(WorkspaceCatalog* catalog, double side, QWidget* parent = nullptr);

    Content content() const { return m_content; }
    // The code on show; null unless a link is.
    QRView* qrView() const { return m_qr; }
    QPlainTextEdit* linkText() const { return m_link; }
    SecondaryButton* copyButton() const { return m_copy; }
    // What the copy button came to, said under it.
    OutcomeLine* copyOutcome() const { return m_copyOutcome; }
    // The link on show is on the clipboard.
    void showCopied();

    // The link and the explanation beside the code: "二维码绑定这台电脑的配对身份。…"
    static QString intro();
    static QString warning();
    // The line under the workspaces naming those the code leaves out, and why.
    static QString leftOutText(const QList<WorkspaceCatalog::LeftOut>& leftOut);
    // Beside a code whose gateway address only this machine reaches.
    static QString unreachable();

signals:
    // The detail column's copy button, with the link on show.
    void copyRequested(const QString& link);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void refreshRecords();

    QPointer<WorkspaceCatalog> m_catalog;
    double m_side;
    bool m_fetched = false;
    Content m_content = Content::Loading;
    QWidget* m_loading;
    QWidget* m_error;
    QLabel* m_errorText;
    QWidget* m_linkArea;
    QVBoxLayout* m_codeSlot;
    QRView* m_qr = nullptr;
    QVBoxLayout* m_rowsLayout;
    QLabel* m_leftOut;
    KeyedReconciler<QString> m_rows;
    QPlainTextEdit* m_link;
    SecondaryButton* m_copy;
    QLabel* m_unreachable;
    OutcomeLine* m_copyOutcome;
    QString m_shownLink;
};
