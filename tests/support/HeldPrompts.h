#pragma once

#include "gui/platform/Prompts.h"

#include <QFuture>
#include <QPromise>

#include <QCoroFuture>
#include <QCoroTask>

#include <memory>
#include <optional>
#include <utility>

// Prompts that keep an alert open until the test answers it, as a person
// would; folder pickers are dismissed.
class HeldPrompts final : public Prompts {
public:
    QCoro::Task<int> alert(QWidget*, Alert) override
    {
        m_answer = std::make_shared<QPromise<int>>();
        m_answer->start();
        QFuture<int> answered = m_answer->future();
        const int answer = co_await answered;
        co_return answer;
    }
    QCoro::Task<std::optional<QString>> pickFolder(QWidget*, QString, QString, QString) override
    {
        co_return std::nullopt;
    }
    bool open() const { return m_answer != nullptr; }
    void answer(int index)
    {
        const auto promise = std::exchange(m_answer, nullptr);
        promise->addResult(index);
        promise->finish();
    }

private:
    std::shared_ptr<QPromise<int>> m_answer;
};
