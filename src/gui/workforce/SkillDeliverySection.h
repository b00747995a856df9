#pragma once

#include "core/workforce/EmployeeSkillView.h"

#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

// An employee's skill contract as the detail pane shows it: whether it can
// take work, what makes a delivery count, how far each capability is proven
// and what still blocks it; or the loading text, or the failure. A failure
// wins over a contract that is also given.
class SkillDeliverySection : public QWidget {
    Q_OBJECT
public:
    explicit SkillDeliverySection(QWidget* parent = nullptr);

    // The role key goes into the identifiers of the status chip and the review line.
    void setContent(const std::optional<EmployeeSkillView>& view, const std::optional<QString>& loadError,
        const QString& employeeRole);

private:
    QWidget* buildContract(const EmployeeSkillView& view, const QString& role);

    QVBoxLayout* m_stack;
    QLabel* m_error;
    QLabel* m_loading;
    QWidget* m_contract = nullptr;
    std::optional<EmployeeSkillView> m_view;
    QString m_role;
};
