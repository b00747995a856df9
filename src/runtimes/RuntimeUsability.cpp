#include "runtimes/RuntimeUsability.h"

QString rawWord(RuntimeUsability usability)
{
    switch (usability) {
    case RuntimeUsability::Ready:
        return QStringLiteral("ready");
    case RuntimeUsability::LoginRequired:
        return QStringLiteral("login_required");
    case RuntimeUsability::CredentialsRequired:
        return QStringLiteral("credentials_required");
    case RuntimeUsability::NotInstalled:
        return QStringLiteral("not_installed");
    case RuntimeUsability::Unsupported:
        return QStringLiteral("unsupported");
    case RuntimeUsability::UserSupplied:
        return QStringLiteral("user_supplied");
    case RuntimeUsability::Degraded:
        return QStringLiteral("degraded");
    case RuntimeUsability::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<RuntimeUsability> runtimeUsabilityFromWord(const QString& word)
{
    static const RuntimeUsability all[] = {
        RuntimeUsability::Ready,
        RuntimeUsability::LoginRequired,
        RuntimeUsability::CredentialsRequired,
        RuntimeUsability::NotInstalled,
        RuntimeUsability::Unsupported,
        RuntimeUsability::UserSupplied,
        RuntimeUsability::Degraded,
        RuntimeUsability::Unknown,
    };
    for (RuntimeUsability u : all) {
        if (rawWord(u) == word)
            return u;
    }
    return std::nullopt;
}
