#include "core/gateway/CLIAsync.h"

QCoro::Task<CLI::Result> CLIAsync::run(QStringList args, std::chrono::milliseconds timeLimit, const QObject* owner)
{
    auto task = CLI::runAsync(std::move(args), std::nullopt, std::nullopt, std::nullopt, timeLimit, owner);
    CLI::Result result = co_await std::move(task);
    switch (result.failure) {
    case CLI::Failure::None:
        break;
    case CLI::Failure::NotFound:
    case CLI::Failure::CouldNotStart:
        result.code = -1;
        result.out = QStringLiteral("找不到 brenlow：") + result.error;
        break;
    case CLI::Failure::TimedOut:
    case CLI::Failure::Cancelled:
        result.code = -1;
        result.out = result.error;
        break;
    }
    co_return result;
}
