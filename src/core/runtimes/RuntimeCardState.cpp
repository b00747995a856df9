#include "core/runtimes/RuntimeCardState.h"

#include "core/providers/ProviderVerify.h"

RuntimeCardActions::Inputs RuntimeCardState::inputs() const
{
    RuntimeCardActions::Inputs in;
    in.row = row;
    in.hasWorkspace = cfg.has_value();
    in.setup = setup;
    in.enabled = enabled;
    in.running = running;
    return in;
}

std::optional<QString> RuntimeCardState::modelWarning() const
{
    // Until the secret store has answered, no warning rather than a wrong one.
    if (!boundProfile || !boundProfileHasKey)
        return std::nullopt;
    if (!*boundProfileHasKey)
        return QStringLiteral("缺 Key");
    // Only the provider's own refusal: a check that never reached it says nothing about the key.
    if (boundProfile->lastVerifyOK == false
        && ProviderVerify::refusedKey(boundProfile->lastVerifyDetail.value_or(QString())))
        return QStringLiteral("上次验证被拒");
    return std::nullopt;
}
