#include "Reports.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString pretty(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QJsonObject slot(const QString& provider, const QString& display, const QStringList& keys, const QString& baseUrl,
    const QString& model)
{
    return { { "provider", provider }, { "display", display }, { "key_env_vars", QJsonArray::fromStringList(keys) },
        { "base_url_env_var", baseUrl }, { "model_env_var", model } };
}

struct Install {
    bool supported = false;
    QString method;
    QString package;
    QString why;
    bool uninstall = false;
};

QJsonObject setupKeys(const Install& install, const QStringList& authMethods, const QString& credentialProvider,
    const QStringList& keyVars, const QJsonArray& providerSlots)
{
    QJsonObject o { { "install_supported", install.supported },
        { "install_source", install.method.isEmpty() ? QStringLiteral("manual") : QStringLiteral("registry") },
        { "install_why", install.why }, { "auth_methods", QJsonArray::fromStringList(authMethods) },
        { "api_key_supported", !keyVars.isEmpty() }, { "api_key_env_vars", QJsonArray::fromStringList(keyVars) },
        { "credential_why",
            credentialProvider.isEmpty() ? QString() : QStringLiteral("用 API Key 时从钥匙串注入环境变量") },
        { "uninstall_supported", install.uninstall },
        { "uninstall_why", install.uninstall ? QString() : QStringLiteral("这种装法要自己卸") },
        { "provider_slots", providerSlots } };
    if (!install.method.isEmpty())
        o.insert(QStringLiteral("install_method"), install.method);
    if (!install.package.isEmpty())
        o.insert(QStringLiteral("install_package"), install.package);
    if (install.uninstall) {
        o.insert(QStringLiteral("uninstall_method"), install.method);
        o.insert(QStringLiteral("uninstall_package"), install.package);
    }
    if (!credentialProvider.isEmpty())
        o.insert(QStringLiteral("credential_provider"), credentialProvider);
    return o;
}

QJsonObject entry(const QString& kind, const QString& display, const QString& adapter, const QJsonObject& health,
    const QJsonObject& auth, const QString& usability, bool protocol, const QJsonObject& caps, const QJsonObject& setup)
{
    QJsonObject o { { "kind", kind }, { "display", display }, { "adapter", adapter }, { "health", health },
        { "auth", auth }, { "usability", usability }, { "protocol", protocol }, { "cap_counts", caps } };
    for (auto it = setup.begin(); it != setup.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

// One runtime for each usability word, with the row shapes the cards show:
// a path, a probe error, an empty path beside an error, no version, an empty
// version, a login command, a protocol adapter, empty capability counts; and
// one that cannot be installed from here, and a ready one the demo switches off.
QJsonArray defaultRuntimes()
{
    QJsonArray list;
    list.append(entry("claude", "Claude Code", "cli",
        { { "installed", true }, { "healthy", true }, { "version", "2.1.4" }, { "path", "/usr/local/bin/claude" } },
        { { "state", "logged_in" }, { "source", "claude auth status" } }, "ready", false,
        { { "yes", 14 }, { "unenforceable", 1 } },
        setupKeys({ true, "npm", "@brenlow-sim/claude", {}, true }, { "oauth", "api_key" }, "anthropic",
            { "ANTHROPIC_API_KEY" },
            { slot("anthropic", "Anthropic", { "ANTHROPIC_API_KEY" }, "ANTHROPIC_BASE_URL", "ANTHROPIC_MODEL"),
                slot("openrouter", "OpenRouter", { "ANTHROPIC_AUTH_TOKEN" }, "ANTHROPIC_BASE_URL",
                    "ANTHROPIC_MODEL") })));
    list.append(entry("codex", "Codex", "cli",
        { { "installed", true }, { "healthy", true }, { "version", "0.46.0" }, { "path", "/usr/local/bin/codex" } },
        { { "state", "logged_out" }, { "source", "codex login status" }, { "hint", "在终端里跑一次 codex login" },
            { "login", QJsonArray { "codex", "login" } }, { "login_note", "浏览器里登录完再回来" } },
        "login_required", false, { { "yes", 6 }, { "auth-required", 5 } },
        setupKeys({ true, "npm", "@brenlow-sim/codex", {}, true }, { "oauth", "api_key" }, "openai",
            { "OPENAI_API_KEY" },
            { slot("openai", "OpenAI", { "OPENAI_API_KEY" }, "OPENAI_BASE_URL", "OPENAI_MODEL") })));
    list.append(entry("gemini", "Gemini CLI", "cli",
        { { "installed", true }, { "healthy", true }, { "version", "0.9.0" }, { "path", "/usr/local/bin/gemini" } },
        { { "state", "missing_key" }, { "source", "env" }, { "hint", "配一把 GEMINI_API_KEY" } },
        "credentials_required", false, { { "yes", 4 }, { "auth-required", 3 }, { "unknown", 2 } },
        setupKeys({ true, "npm", "@brenlow-sim/gemini", {}, true }, { "api_key" }, "google", { "GEMINI_API_KEY" },
            { slot("google", "Google AI Studio", { "GEMINI_API_KEY", "GOOGLE_API_KEY" }, "GOOGLE_GEMINI_BASE_URL",
                "GEMINI_MODEL") })));
    list.append(entry("qwen", "Qwen Code", "cli",
        { { "installed", false }, { "healthy", false }, { "error", "qwen 不在 PATH 里" } },
        { { "state", "unknown" }, { "source", "not_installed" } }, "not_installed", false, { { "unknown", 8 } },
        setupKeys({ true, "npm", "@brenlow-sim/qwen", {}, true }, { "api_key" }, "dashscope", { "DASHSCOPE_API_KEY" },
            { slot("dashscope", "DashScope", { "DASHSCOPE_API_KEY" }, "OPENAI_BASE_URL", "OPENAI_MODEL") })));
    list.append(entry("aider", "Aider", "cli",
        { { "installed", false }, { "healthy", false }, { "error", "aider 不在 PATH 里" } },
        { { "state", "unknown" }, { "source", "not_installed" } }, "not_installed", false, { { "unknown", 6 } },
        setupKeys({ false, {}, {}, "它要 Python 3.12 的 pipx，自己装一次", false }, { "api_key" }, {}, {}, {})));
    list.append(entry("cursor", "Cursor Agent", "cli",
        { { "installed", true }, { "healthy", true }, { "version", "2025.10.1" },
            { "path", "/usr/local/bin/cursor-agent" } },
        { { "state", "logged_in" }, { "source", "cursor-agent status" } }, "ready", false,
        { { "yes", 9 }, { "unknown", 2 } }, setupKeys({}, { "oauth" }, {}, {}, {})));
    list.append(entry("agy", "Antigravity", "cli",
        { { "installed", true }, { "healthy", false }, { "version", "1.0.0" }, { "path", "/opt/agy/bin/agy" } },
        { { "state", "unknown" }, { "source", "probe" } }, "unsupported", false, { { "no", 7 } },
        setupKeys({ false, {}, {}, "这个平台上还装不了", false }, {}, {}, {}, {})));
    list.append(entry("generic", "本机自定义 Agent", "custom",
        { { "installed", true }, { "healthy", true }, { "version", "" }, { "path", "" },
            { "error", "由你自己提供的命令" } },
        { { "state", "n/a" }, { "source", "user" } }, "user_supplied", false, QJsonObject {},
        setupKeys({ false, {}, {}, "自定义 Agent 由你自己装", false }, {}, {}, {}, {})));
    list.append(entry("kimi", "Kimi Code", "cli",
        { { "installed", true }, { "healthy", false }, { "version", "0.3.1" },
            { "error", "探测超时：kimi --version 5 秒没回" } },
        { { "state", "logged_in" }, { "source", "env" } }, "degraded", false,
        { { "yes", 2 }, { "unenforceable", 2 }, { "no", 1 } },
        setupKeys({ true, "brew", "brenlow-sim-kimi", {}, false }, { "api_key" }, "moonshot", { "MOONSHOT_API_KEY" },
            { slot("moonshot", "Moonshot", { "MOONSHOT_API_KEY" }, "MOONSHOT_BASE_URL", "MOONSHOT_MODEL") })));
    list.append(entry("opencode", "OpenCode", "acp",
        { { "installed", true }, { "healthy", true }, { "path", "/usr/local/bin/opencode" } },
        { { "state", "unknown" }, { "source", "acp initialize" } }, "unknown", true,
        { { "yes", 3 }, { "unknown", 4 }, { "auth-required", 1 } },
        setupKeys({ true, "go", "example.invalid/brenlow-sim/opencode", {}, false }, { "api_key" }, {}, {}, {})));
    return list;
}

QJsonObject inventory()
{
    const QJsonArray runtimes = defaultRuntimes();
    QJsonObject counts { { "registered", runtimes.size() } };
    int installed = 0;
    for (const QJsonValue& v : runtimes) {
        const QJsonObject o = v.toObject();
        const QString word = o.value(QStringLiteral("usability")).toString();
        counts.insert(word, counts.value(word).toInt() + 1);
        if (o.value(QStringLiteral("health")).toObject().value(QStringLiteral("installed")).toBool())
            ++installed;
    }
    counts.insert(QStringLiteral("installed"), installed);
    return { { "schema", 1 }, { "runtimes", runtimes }, { "counts", counts } };
}

QString stateDisplay(const QString& state)
{
    if (state == QLatin1String("running"))
        return QStringLiteral("常驻服务正在跑");
    if (state == QLatin1String("not_installed"))
        return QStringLiteral("没有安装常驻服务");
    return QStringLiteral("常驻服务状态：") + state;
}

QJsonObject capability(
    const QString& name, const QString& level, bool sufficient, const QString& why, const QStringList& runtimes)
{
    return { { "capability", name }, { "evidence_level", level }, { "sufficient", sufficient }, { "why", why },
        { "evidence_ref", QStringLiteral("evidence/") + name + QStringLiteral(".json") },
        { "runtime_compatibility", QJsonArray::fromStringList(runtimes) } };
}

QJsonObject blocker(const QString& kind, const QString& what, const QString& why, const QString& owner)
{
    return { { "kind", kind }, { "what", what }, { "why", why }, { "next_step_owner", owner }, { "status", "open" } };
}

// One capability of a role: its name, how far it is proven and where.
struct Cap {
    const char* name;
    const char* level;
    const char* why;
    QStringList runtimes;
};

struct Role {
    QString key;
    QString skill;
    QString status;
    QList<Cap> caps;
    QStringList artifacts;
    QStringList validators;
};

// Each role its own skill, so that the demo's employees differ; the status
// decides the blocker and which validators can run.
const QList<Role>& roles()
{
    const QList<Cap> code { { "read_repo", "yes", "在 claude 和 codex 上都跑通过", { "claude", "codex" } },
        { "write_files", "yes", "改动都落在工作区里", { "claude" } },
        { "run_tests", "auth-required", "要先登录 codex", { "codex" } }, { "open_pr", "no", "这台机器上没有 gh", {} },
        { "deploy", "unknown", "还没验过", {} } };
    const QList<Cap> ops { { "read_repo", "yes", "跑通过", { "claude", "codex" } },
        { "exec_shell", "unenforceable", "约束不住命令的范围", { "codex" } },
        { "scan_deps", "auth-required", "扫描器要先登录", {} }, { "rollback", "unknown", "还没验过", {} } };
    const QList<Cap> research { { "web_search", "yes", "在 gemini 上跑通过", { "gemini", "claude", "codex" } },
        { "read_docs", "yes", "跑通过", { "gemini" } }, { "cite_sources", "unenforceable", "管不住它引用的来源", {} } };
    const QList<Cap> numbers { { "read_sheets", "yes", "跑通过", { "claude" } },
        { "market_data", "auth-required", "数据源要先登录", {} },
        { "write_report", "yes", "跑通过", { "claude", "codex" } } };
    const QList<Cap> desk { { "calendar", "unknown", "还没验过", {} }, { "draft_email", "yes", "跑通过", { "claude" } },
        { "send_email", "no", "没有发信的权限", {} } };
    const QList<Cap> law { { "read_contract", "yes", "跑通过", { "claude" } },
        { "redline", "unenforceable", "改动范围管不住", { "claude" } }, { "cite_statute", "unknown", "还没验过", {} } };
    static const QList<Role> list {
        { "ai_developer", "全栈开发交付", "READY", code, { "diff", "test_report" }, { "unit_tests", "lint" } },
        { "ai_fullstack_developer", "全栈应用开发", "READY", code, { "diff", "test_report" },
            { "unit_tests", "lint" } },
        { "ai_researcher", "深度调研报告", "READY", research, { "report.md", "sources.json" }, { "link_check" } },
        { "ai_security_officer", "安全巡检", "BLOCKED_PERMISSION", ops, { "audit_log" }, { "policy_check" } },
        { "ai_sre", "线上值守", "BLOCKED_PERMISSION", ops, { "runbook", "audit_log" }, { "dry_run", "policy_check" } },
        { "ai_investment_analyst", "投资分析", "BLOCKED_AUTH", numbers, { "model.xlsx", "memo.md" },
            { "number_check" } },
        { "ai_finance_analyst", "财务分析", "BLOCKED_AUTH", numbers, { "ledger.xlsx" }, { "number_check" } },
        { "ai_executive_assistant", "行政助理", "BLOCKED_VALIDATOR", desk, { "schedule.ics" }, { "calendar_check" } },
        { "ai_lawyer", "合同审阅", "BLOCKED_DEVICE", law, { "redline.docx", "memo.md" }, { "clause_check" } },
        { "ai_sales", "销售跟进", "BLOCKED_RUNTIME", desk, { "crm_update" }, { "crm_check" } },
        { "ai_customer_service", "客服答复", "BLOCKED_CAPABILITY", desk, { "reply_draft" }, { "tone_check" } },
    };
    return list;
}

QJsonObject evidence(const Role& role)
{
    const bool ready = role.status == QLatin1String("READY");
    QJsonArray capabilities;
    for (const Cap& c : role.caps) {
        const QString level = QString::fromUtf8(c.level);
        capabilities.append(capability(
            QString::fromUtf8(c.name), level, level == QLatin1String("yes"), QString::fromUtf8(c.why), c.runtimes));
    }
    QJsonArray blocking;
    if (role.status == QLatin1String("BLOCKED_PERMISSION"))
        blocking.append(blocker("permission", "exec", "要开 exec 这一档", "user"));
    else if (role.status == QLatin1String("BLOCKED_AUTH"))
        blocking.append(blocker("auth", "codex", "codex 还没登录", "user"));
    else if (role.status == QLatin1String("BLOCKED_VALIDATOR"))
        blocking.append(blocker("validator", "calendar_check", "校验器还没装", "us"));
    else if (role.status == QLatin1String("BLOCKED_DEVICE"))
        blocking.append(blocker("device", "this-mac", "要一台常开的机器", "user"));
    else if (role.status == QLatin1String("BLOCKED_RUNTIME"))
        blocking.append(blocker("runtime", "crm-agent", "没有能接 CRM 的 runtime", "provider"));
    else if (role.status == QLatin1String("BLOCKED_CAPABILITY"))
        blocking.append(blocker("capability", "send_email", "发不了邮件", "us"));
    // The first validator always runs; the others only once the role is ready.
    QJsonObject available;
    for (qsizetype i = 0; i < role.validators.size(); ++i)
        available.insert(role.validators.at(i), i == 0 || ready);
    return { { "employee_role", role.key }, { "skill_id", QStringLiteral("skill.") + role.key },
        { "skill_name", role.skill }, { "skill_version", "1.4.0" }, { "resolution_status", role.status },
        { "capabilities", capabilities }, { "required_artifacts", QJsonArray::fromStringList(role.artifacts) },
        { "required_validators", QJsonArray::fromStringList(role.validators) }, { "validators_available", available },
        { "human_review", !ready }, { "blocking", blocking },
        { "candidate_runtimes", QJsonArray { "claude", "codex" } } };
}

} // namespace

namespace Reports {

int runtimes(const QStringList& args)
{
    const QJsonObject report = inventory();
    if (args.contains(QStringLiteral("--json"))) {
        say(pretty(report));
        return 0;
    }
    for (const QJsonValue& v : report.value(QStringLiteral("runtimes")).toArray()) {
        const QJsonObject o = v.toObject();
        say(QStringLiteral("%1\t%2\t%3\n")
                .arg(o.value(QStringLiteral("kind")).toString(), o.value(QStringLiteral("display")).toString(),
                    o.value(QStringLiteral("usability")).toString()));
    }
    return 0;
}

int daemon(const QStringList& args, const Steering& steering)
{
    const QString sub = args.value(1);
    if (sub == QLatin1String("install") && args.size() == 2) {
        steering.write(QStringLiteral("daemon.state"), "running\n");
        say(QStringLiteral("常驻服务装好了，已经在跑\n"));
        return 0;
    }
    if (sub != QLatin1String("status")) {
        complain(QStringLiteral("usage: brenlow daemon (status [--json] | install)"));
        return 2;
    }
    QString state = QStringLiteral("running");
    if (const auto steered = steering.read(QStringLiteral("daemon.state"))) {
        const QString word = QString::fromUtf8(*steered).trimmed();
        if (!word.isEmpty())
            state = word;
    }
    QJsonObject report { { "schema", 1 }, { "state", state },
        { "log", QDir::homePath() + QStringLiteral("/.tolvarine/agent-service.log") },
        { "legacy_labels", QJsonArray {} } };
    if (state != QLatin1String("installed_state_unknown"))
        report.insert(QStringLiteral("running"), state == QLatin1String("running"));
    if (state == QLatin1String("running"))
        report.insert(QStringLiteral("pid"), QStringLiteral("4242"));
    if (state.startsWith(QLatin1String("installed"))) {
        const auto code = steering.read(QStringLiteral("daemon.last_exit_code"));
        report.insert(
            QStringLiteral("last_exit_code"), code ? QString::fromUtf8(*code).trimmed() : QStringLiteral("0"));
    }
    if (args.contains(QStringLiteral("--json")))
        say(pretty(report));
    else
        say(stateDisplay(state) + QLatin1Char('\n'));
    return 0;
}

int employeeEvidence(const QStringList& args)
{
    // args: "employee", "evidence", <role>, "--json"
    QStringList rest = args.mid(2);
    const bool json = rest.removeAll(QStringLiteral("--json")) > 0;
    if (rest.size() != 1) {
        complain(QStringLiteral("usage: brenlow employee evidence <role> [--json]"));
        return 2;
    }
    for (const Role& role : roles()) {
        if (role.key != rest.first())
            continue;
        const QJsonObject reply = evidence(role);
        if (json)
            say(pretty(reply));
        else
            say(QStringLiteral("%1: %2 (%3)\n").arg(role.key, role.skill, role.status));
        return 0;
    }
    say(QStringLiteral("没有这个角色：%1\n").arg(rest.first()));
    return 1;
}

} // namespace Reports
