#pragma once

#include "BlockingSecretStore.h"

#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "gui/platform/Prompts.h"

#include <memory>
#include <optional>

// What a whole-window test puts in place around each test function: no
// animation, prompts the test answers, and an in-memory key store that is
// open (a test may hold it or swap it). Made in init(), reset in cleanup().
template <typename TestPrompts = ScriptedPrompts> class WindowTestSetUp {
public:
    WindowTestSetUp()
    {
        ReduceMotion::setOverride(true);
        auto prompts = std::make_unique<TestPrompts>();
        m_prompts = prompts.get();
        Prompts::setShared(std::move(prompts));
        auto keys = std::make_unique<BlockingSecretStore>();
        keys->open();
        m_keys = keys.get();
        SecretStore::setShared(std::move(keys));
    }
    ~WindowTestSetUp()
    {
        SecretStore::setShared(nullptr);
        Prompts::setShared(nullptr);
        ReduceMotion::setOverride(std::nullopt);
    }
    WindowTestSetUp(const WindowTestSetUp&) = delete;
    WindowTestSetUp& operator=(const WindowTestSetUp&) = delete;

    TestPrompts* prompts() const { return m_prompts; }
    // The store set up here, until a test swaps in another.
    BlockingSecretStore* keys() const { return m_keys; }

private:
    TestPrompts* m_prompts = nullptr;
    BlockingSecretStore* m_keys = nullptr;
};
