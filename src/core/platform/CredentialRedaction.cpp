#include "core/platform/CredentialRedaction.h"

#include <QRegularExpression>
#include <QUrl>

namespace CredentialRedaction {

namespace {

const QString kMask = QStringLiteral("****");

// A value runs until white space, a quote, or a separator of headers, JSON,
// query strings and shell lines.
const QString kValue = QStringLiteral(R"([^\s"'`,;&<>)\]}]+)");

QString maskKeyShaped(const QString& text)
{
    // Well-known key prefixes keep their prefix so that a reader still sees
    // which kind of key stood there.
    static const QRegularExpression prefixed(
        QStringLiteral(R"(\b(sk-ant-|sk-proj-|sk-|pk-|rk-|AIza|ghp_|gho_|ghs_|github_pat_|xox[abpr]-|hf_|glpat-))"
                       R"([A-Za-z0-9_\-]{8,})"));
    QString out = text;
    out.replace(prefixed, QStringLiteral("\\1") + kMask);

    // Any other long run of key characters with both letters and digits; ids
    // shaped like UUIDs are left alone, they name things and unlock nothing.
    static const QRegularExpression run(QStringLiteral(R"((?<![A-Za-z0-9_\-])[A-Za-z0-9_\-]{32,}(?![A-Za-z0-9_\-]))"));
    static const QRegularExpression uuid(
        QStringLiteral(R"(^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$)"));
    static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
    static const QRegularExpression digit(QStringLiteral("[0-9]"));
    QString result;
    qsizetype last = 0;
    auto it = run.globalMatch(out);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString word = m.captured(0);
        if (uuid.match(word).hasMatch() || !word.contains(letter) || !word.contains(digit))
            continue;
        result += out.mid(last, m.capturedStart(0) - last);
        result += kMask;
        last = m.capturedEnd(0);
    }
    result += out.mid(last);
    return result;
}

} // namespace

QString hideUserInfo(const QString& text)
{
    // The user-info runs to the authority's last "@" (an unescaped "@" in a
    // password included).
    static const QRegularExpression userInfo(QStringLiteral(R"(\b([A-Za-z][A-Za-z0-9+.\-]*://)[^\s/?#"'<>]*@)"));
    if (!text.contains(QLatin1Char('@')))
        return text;
    QString out = text;
    out.replace(userInfo, QStringLiteral("\\1***@"));
    return out;
}

QString shownAddress(const QString& address)
{
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return hideUserInfo(address);
    const qsizetype start = scheme + 3;
    // As the URL parser reads it: the authority ends at the first "/", "?" or
    // "#", its user-info at the authority's last "@".
    qsizetype end = start;
    while (end < address.size() && !QStringView(u"/?#").contains(address.at(end)))
        ++end;
    qsizetype at = end > start ? address.lastIndexOf(QLatin1Char('@'), end - 1) : -1;
    if (at < start) {
        // A "/" in a password ends the authority early, and the address does
        // not parse; whatever stands before its last "@" may be a password.
        if (QUrl(address).isValid())
            return address;
        at = address.lastIndexOf(QLatin1Char('@'));
        if (at < start)
            return address;
    }
    return address.left(start) + QStringLiteral("***") + address.mid(at);
}

QString redact(const QString& text)
{
    if (text.isEmpty())
        return text;
    // "Authorization: Bearer x", "authorization=Basic x", "\"Authorization\": \"x\"".
    static const QRegularExpression authorization(
        QStringLiteral(R"((?i)(\b(?:proxy-)?authorization["']?\s*[:=]\s*["']?)((?:bearer|basic|token|digest)\s+)?)")
        + kValue);
    // A bearer credential anywhere else.
    static const QRegularExpression bearer(QStringLiteral(R"((?i)(\bbearer\s+))") + kValue);
    // Fields and variables whose value is a secret: TOLVARINE_TOKEN=…, "api_key": "…",
    // ?access_token=…, password: ….
    static const QRegularExpression field(
        QStringLiteral(
            R"((?i)(\b[A-Za-z0-9_\-]*(?:token|api[_\-]?key|apikey|secret|passwd|password)["']?\s*[:=]\s*["']?))")
        + kValue);

    QString out = hideUserInfo(text);
    out.replace(authorization, QStringLiteral("\\1\\2") + kMask);
    out.replace(bearer, QStringLiteral("\\1") + kMask);
    out.replace(field, QStringLiteral("\\1") + kMask);
    return maskKeyShaped(out);
}

} // namespace CredentialRedaction
