#pragma once

#include <QByteArray>

// The benchmark scenario: one workspace "ws-large" (token "large-token") with
// 2,000 commands, 60 employees, 300 feed items and 200 progress lines on the
// running command. Deterministic, so runs compare. Only "danger" is pending,
// which is never confirmed automatically, so every reload asks the same six
// requests.
namespace LargeScenario {
QByteArray generate();
}
