#pragma once

#include <QColor>
#include <QString>

// The words and colours of the skill section.
namespace SkillCopy {

struct Look {
    QString text;
    QColor tint;
};

// "可以接活" in mint for exactly "READY"; otherwise the blocked reason in amber.
Look readiness(const QString& resolutionStatus);
// "已验证", "做不到", "管不住", "待登录", "没验过", or the level itself.
QString evidenceLabel(const QString& level);
QColor evidenceTint(const QString& level);
// Who moves next: "要你处理", "我们还没做", "等服务方", or the word itself.
QString ownerLabel(const QString& nextStepOwner);
// "在 N 家上成立"
QString compatibilityText(qsizetype runtimes);
// "读不到技能信息：" + the error, and the identifier carrying its first 120 characters.
QString errorText(const QString& error);
QString errorIdentifier(const QString& error);

} // namespace SkillCopy
