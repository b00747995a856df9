#include "core/runtimes/RuntimeCardState.h"

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
    if (boundProfile->lastVerifyOK == false)
        return QStringLiteral("上次验证被拒");
    return std::nullopt;
}
