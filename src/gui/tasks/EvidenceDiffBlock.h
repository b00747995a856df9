#pragma once

#include "core/gateway/TaskEvidence.h"
#include "gui/design/Disclosure.h"
#include "gui/design/KeyedReconciler.h"

class QLabel;
class SelectableText;
class QVBoxLayout;

// The line-by-line changes of a task's evidence: a fold whose header gives
// the totals, and inside it the reconciliation, external-change and
// attribution notes, then each file with a diff, its counts and the whole
// diff text. Files are kept by path across updates (a repeated path by its
// occurrence: each is shown).
class EvidenceDiffBlock : public Disclosure {
    Q_OBJECT
public:
    EvidenceDiffBlock(const QString& commandId, QWidget* parent = nullptr);

    // `files` are the files with a diff, in order.
    void setChanges(const DeskChangeSet& changes, const QList<DeskFileChange>& files, bool live);

private:
    QLabel* m_counts;
    SelectableText* m_reconciliation;
    SelectableText* m_external;
    SelectableText* m_attribution;
    QVBoxLayout* m_files;
    QLabel* m_moreFiles;
    KeyedReconciler<OccurrenceKeys<QString>::Key> m_fileWidgets;
};
