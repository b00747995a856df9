#include "core/design/InlineMarkup.h"

#include <QList>

namespace InlineMarkup {

namespace {

struct Token {
    bool code;
    QString text;
};

// Code spans first: a backtick with a later closing backtick encloses text
// that is never scanned for bold marks.
QList<Token> tokenize(const QString& text)
{
    QList<Token> tokens;
    QString plain;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text.at(i) == u'`') {
            const qsizetype close = text.indexOf(u'`', i + 1);
            if (close > i + 1) {
                if (!plain.isEmpty())
                    tokens.append({ false, std::exchange(plain, {}) });
                tokens.append({ true, text.mid(i + 1, close - i - 1) });
                i = close + 1;
                continue;
            }
        }
        plain.append(text.at(i));
        ++i;
    }
    if (!plain.isEmpty())
        tokens.append({ false, plain });
    return tokens;
}

QString escaped(const QString& s)
{
    QString out = s.toHtmlEscaped();
    out.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return out;
}

// The text with its marks resolved: each plain run escaped by `plain`, each
// code span wrapped by `code`, and paired bold marks replaced by `open` and
// `close`.
template <typename Plain, typename Code>
QString render(const QString& text, Plain plain, Code code, QLatin1String open, QLatin1String close)
{
    const QList<Token> tokens = tokenize(text);

    // Bold marks pair up in order across the plain tokens (so a bold run may
    // hold a code span); an odd last mark is literal.
    int marks = 0;
    for (const Token& t : tokens) {
        if (!t.code)
            marks += int(t.text.count(QLatin1String("**")));
    }
    const int usable = marks - marks % 2;

    QString out;
    int seen = 0;
    for (const Token& t : tokens) {
        if (t.code) {
            out += code(t.text);
            continue;
        }
        qsizetype from = 0;
        while (true) {
            const qsizetype at = t.text.indexOf(QLatin1String("**"), from);
            if (at < 0 || seen >= usable) {
                out += plain(t.text.mid(from));
                break;
            }
            out += plain(t.text.mid(from, at - from));
            out += (seen % 2 == 0) ? open : close;
            ++seen;
            from = at + 2;
        }
    }
    return out;
}

} // namespace

QString toHtml(const QString& text)
{
    return render(
        text, escaped,
        [](const QString& code) {
            return QLatin1String("<span style=\"font-family:'JetBrains Mono','Noto Sans Mono CJK SC';\">")
                + escaped(code) + QLatin1String("</span>");
        },
        QLatin1String("<b>"), QLatin1String("</b>"));
}

QString toPlain(const QString& text)
{
    const auto same = [](const QString& s) { return s; };
    return render(text, same, same, QLatin1String(), QLatin1String());
}

} // namespace InlineMarkup
