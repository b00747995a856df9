#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeNotice.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/runtimes/RuntimeServing.h"

#include <QList>
#include <QString>

#include <optional>

// Everything one runtime card shows, as the runtime section hands it over: a
// plain value, so that a card redraws only when it changed.
struct RuntimeCardState {
    RuntimeRow row;
    // The selected workspace; none when nothing is selected.
    std::optional<CLIConfig> cfg;
    std::optional<RuntimeSetupInfo> setup;
    std::optional<ProviderProfile> boundProfile;
    // Whether the secret store holds the bound profile's key; none until it
    // has been asked.
    std::optional<bool> boundProfileHasKey;
    QList<ProviderProfile> allProfiles;
    QList<RuntimeServing> serving;
    bool enabled = true;
    // A worker of this kind runs in the selected workspace.
    bool running = false;
    // What the card's last action came to, said beside its buttons; none before the first.
    std::optional<RuntimeNotice> outcome;
    // Its switch is being written: the card takes no action until that has ended.
    bool busy = false;

    bool operator==(const RuntimeCardState&) const = default;

    RuntimeCardActions::Inputs inputs() const;
    QList<RuntimeCardActions::Action> actions() const { return RuntimeCardActions::actions(inputs()); }
    // Whether the card has a model line at all.
    bool hasModelLine() const { return setup && !setup->providerSlots.isEmpty(); }
    // The model line's warning chip: "缺 Key", else "上次验证被拒" when the provider refused the
    // key at the last check, else none.
    std::optional<QString> modelWarning() const;
    // The working folder of terminal commands: the workspace's folder, if any.
    std::optional<QString> cwd() const { return cfg ? cfg->path : std::nullopt; }
};
