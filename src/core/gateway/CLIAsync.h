#pragma once

#include "core/gateway/CLI.h"

#include <QCoroTask>
#include <QStringList>

// The awaitable run used by the agent-service check and the recovery runner:
// the tool with `args` and nothing else (no folder, workspace or runtime), run
// off the GUI thread. Never fails as such: when the tool cannot be found or
// started the result has code -1 and out "找不到 brenlow：" followed by the
// reason; when it hits its time limit, code -1 and out the time-limit text.
// `failure` and `error` still tell what happened. When `owner` is destroyed
// first, the run is ended (CLI::runAsync) and out is the cancellation text.
class CLIAsync {
public:
    CLIAsync() = delete;

    static QCoro::Task<CLI::Result> run(
        QStringList args, std::chrono::milliseconds timeLimit = CLI::defaultTimeLimit, const QObject* owner = nullptr);
};
