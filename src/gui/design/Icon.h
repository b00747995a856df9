#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

// A symbol of the icon table, painted in one colour.
class Icon : public QWidget {
    Q_OBJECT
public:
    // `size` is the symbol's point size as the screens give it; the icon box
    // is a little larger, as a symbol glyph is at that font size.
    Icon(const QString& symbol, qreal size, const QColor& tint, QWidget* parent = nullptr);

    void setSymbol(const QString& symbol);
    void setTint(const QColor& tint);
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;

    // The symbol rendered into a square of `px` device-independent pixels and
    // tinted (the SVG's own colours are replaced by `tint`, alpha kept).
    // A null pixmap for a name the table does not know.
    static QPixmap pixmap(const QString& symbol, int px, const QColor& tint, qreal devicePixelRatio = 1.0);

    // Box edge, in pixels, of a symbol drawn at a point size.
    static int boxFor(qreal size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    qreal m_size;
    QColor m_tint;
};
