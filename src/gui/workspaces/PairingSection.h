#pragma once

#include "gui/workspaces/PairingSheet.h"

#include <QCoroTask>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class OutcomeLine;
class ProseLabel;
class SecondaryButton;
class WorkspaceCatalog;

// "连接手机": connecting a phone to this computer with one code that carries
// every workspace paired here. A title row with "显示二维码", which presents the
// pairing sheet, and an entry card that explains the code and copies a fresh
// link without opening the sheet. With no workspace it is the title alone.
class PairingSection : public QWidget {
    Q_OBJECT
public:
    explicit PairingSection(WorkspaceCatalog* catalog, QWidget* parent = nullptr);
    ~PairingSection() override;

    // Whether the pairing sheet is presented.
    bool qrExpanded() const { return m_sheet != nullptr; }
    void setQrExpanded(bool expanded);
    // The presented sheet; null while closed.
    PairingSheet* sheet() const { return m_sheet; }

    SecondaryButton* toggleButton() const { return m_toggle; }
    QWidget* entryCard() const { return m_card; }
    SecondaryButton* entryCopyButton() const { return m_entryCopy; }
    // What the entry card's copy came to, said in the card (the notice
    // banner is out of view from here).
    OutcomeLine* entryOutcome() const { return m_entryOutcome; }

    // Puts the link on the clipboard and says so in the notice.
    void copyPairLink(const QString& link);
    // The entry card's copy: fetches a fresh link, then copies it; when none
    // could be had, the reason is shown as an error notice. Either way the
    // card says it beside the button.
    QCoro::Task<> copyFreshLink();

    // "一次扫码带走这台电脑上全部 N 个工作区，…"; when some are on another
    // gateway, the number the code carries and the number it leaves out.
    static QString entryText(int workspaces, int otherGateway);
    // Once a code is published, what it carries and what it leaves out, by
    // name; entryText() when it carries every workspace.
    static QString carriedText(const QStringList& carried, const QStringList& leftOut);
    // The card's line when the sheet fetched a newer code while its own was out.
    static QString overtakenText();

signals:
    // A text for the window's notice banner.
    void notice(const QString& text, bool isError);
    // A fresh-link copy has finished, copied or not (for tests and automation).
    void copyFinished();

private:
    void refresh();

    QPointer<WorkspaceCatalog> m_catalog;
    SecondaryButton* m_toggle;
    QWidget* m_card;
    ProseLabel* m_description;
    SecondaryButton* m_entryCopy;
    OutcomeLine* m_entryOutcome;
    QPointer<PairingSheet> m_sheet;
};
