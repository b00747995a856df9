#include "core/tasks/ActionRunner.h"

#include "core/gateway/Status.h"

namespace {

QCoro::Task<> reloadWhatIsShown(QPointer<Status> status)
{
    if (!status)
        co_return;
    auto reload = status->reload(status->config());
    co_await std::move(reload);
}

} // namespace

ActionRunnerBase::Reload ActionRunnerBase::reloadShown(Status* status)
{
    return [status = QPointer<Status>(status)] { return reloadWhatIsShown(status); };
}
