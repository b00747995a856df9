#pragma once

#include "Steering.h"

#include <QStringList>

// The report commands: the runtime inventory with its setup contracts, the
// background service's status and install, and an employee's skill contract.
namespace Reports {

int runtimes(const QStringList& args);
int daemon(const QStringList& args, const Steering& steering);
int employeeEvidence(const QStringList& args);

} // namespace Reports
