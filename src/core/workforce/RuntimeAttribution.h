#pragma once

#include <QString>

// Which runtime an employee's work ran on, as far as the gateway's data says.
struct RuntimeAttribution {
    enum class Kind {
        known, // a running command names its runtime
        lastKnown, // the newest command that names a runtime
        deviceOnly, // only the machine's reading or its single registered runtime
        ambiguous, // the machine has several runtimes registered
        unknown, // nothing names a runtime
        noMachine, // no machine and nothing running
    };
    Kind kind = Kind::unknown;
    QString name; // known, lastKnown, deviceOnly: the runtime's display name
    int count = 0; // ambiguous

    static RuntimeAttribution known(const QString& n) { return { Kind::known, n, 0 }; }
    static RuntimeAttribution lastKnown(const QString& n) { return { Kind::lastKnown, n, 0 }; }
    static RuntimeAttribution deviceOnly(const QString& n) { return { Kind::deviceOnly, n, 0 }; }
    static RuntimeAttribution ambiguous(int c) { return { Kind::ambiguous, {}, c }; }
    static RuntimeAttribution unknown() { return { Kind::unknown, {}, 0 }; }
    static RuntimeAttribution noMachine() { return { Kind::noMachine, {}, 0 }; }

    // The sentence the employee's diagnostics show.
    QString diagnosticText() const;

    bool operator==(const RuntimeAttribution&) const = default;
};
