#include "gui/tasks/EvidenceDiffBlock.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/EvidenceText.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/SelectableText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

void setShown(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
    label->setVisible(!text.isEmpty());
}

void setShown(SelectableText* text, const QString& value)
{
    text->setText(value);
    text->setVisible(!value.isEmpty());
}

// One file: its path and counts, then its whole diff.
class DiffFile : public QWidget {
public:
    explicit DiffFile(QWidget* parent)
        : QWidget(parent)
    {
        auto* col = new QVBoxLayout(this);
        col->setContentsMargins(0, 0, 0, 0);
        col->setSpacing(3);
        auto* head = new QHBoxLayout;
        head->setSpacing(6);
        m_path = new ElidedLine(Qt::ElideMiddle, QString(), this);
        m_path->setFont(DSFont::monoMedium(10));
        DSText::setColour(m_path, DS::muted(0.6));
        m_path->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        head->addWidget(m_path, 0);
        m_added = DSText::label(QString(), DSFont::monoMedium(10), DS::mint(), this);
        head->addWidget(m_added);
        m_deleted = DSText::label(QString(), DSFont::monoMedium(10), DS::failureRed(), this);
        head->addWidget(m_deleted);
        head->addStretch(1);
        col->addLayout(head);
        m_hunk = new SelectableText(DSFont::monoMedium(9.5), DS::muted(0.7), this);
        col->addWidget(m_hunk);
    }

    void setFile(const DeskFileChange& file)
    {
        m_path->setText(file.path);
        setShown(m_added, file.added >= 1 ? QStringLiteral("+") + QString::number(file.added) : QString());
        setShown(m_deleted, file.deleted >= 1 ? QStringLiteral("\u2212") + QString::number(file.deleted) : QString());
        m_hunk->setText(file.hunk);
    }

private:
    ElidedLine* m_path;
    QLabel* m_added;
    QLabel* m_deleted;
    SelectableText* m_hunk;
};

} // namespace

EvidenceDiffBlock::EvidenceDiffBlock(const QString& commandId, QWidget* parent)
    : Disclosure(QString(), new QWidget, parent)
{
    setObjectName(QStringLiteral("evidence.diff.") + commandId);
    setHeaderFont(DSFont::semiBold(11));
    setTint(DS::muted(0.5));
    m_counts = DSText::label(QString(), DSFont::monoMedium(9.5), DS::muted(0.4));
    setAccessory(m_counts);

    QWidget* body = content();
    auto* col = new QVBoxLayout(body);
    col->setContentsMargins(0, 4, 0, 0);
    col->setSpacing(8);
    m_reconciliation = new SelectableText(DSFont::monoMedium(10), DS::amber(), body);
    col->addWidget(m_reconciliation);
    m_external = new SelectableText(DSFont::monoMedium(10), DS::muted(0.45), body);
    col->addWidget(m_external);
    m_attribution = new SelectableText(DSFont::monoMedium(10), DS::at(DS::amber(), 0.75), body);
    col->addWidget(m_attribution);
    m_files = new QVBoxLayout;
    m_files->setSpacing(8);
    col->addLayout(m_files);
    m_moreFiles = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), body);
    m_moreFiles->setObjectName(QStringLiteral("evidence.diff.more.") + commandId);
    col->addWidget(m_moreFiles);
}

void EvidenceDiffBlock::setChanges(const DeskChangeSet& changes, const QList<DeskFileChange>& files, bool live)
{
    setTitle(live ? QStringLiteral("逐行改动（实时）") : QStringLiteral("逐行改动（终态）"));
    m_counts->setText(EvidenceText::diffCounts(changes, files.size()));
    setShown(m_reconciliation, changes.reconciliation);
    setShown(m_external, EvidenceText::externalNote(changes));
    setShown(m_attribution, changes.attributionNote);

    QWidget* body = content();
    OccurrenceKeys<QString> paths;
    const QList<QWidget*> widgets = m_fileWidgets.reconcile(
        files.mid(0, EvidenceText::kShownFiles), [&paths](const DeskFileChange& f) { return paths(f.path); },
        [body](const DeskFileChange&) { return static_cast<QWidget*>(new DiffFile(body)); },
        [](QWidget* w, const DeskFileChange& f) { static_cast<DiffFile*>(w)->setFile(f); });
    KeyedLayout::place(m_files, widgets);
    setShown(m_moreFiles, EvidenceText::moreFiles(files.size()));
}
