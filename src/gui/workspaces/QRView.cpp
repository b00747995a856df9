#include "gui/workspaces/QRView.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/workspaces/QRImage.h"
#include "gui/design/DSText.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// The code, scaled to the tile without smoothing and clipped to rounded corners.
class CodeTile : public QWidget {
public:
    CodeTile(const QImage* image, int side, QWidget* parent)
        : QWidget(parent)
        , m_image(image)
    {
        setFixedSize(side, side);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), QRImage::kShownCornerRadius, QRImage::kShownCornerRadius);
        p.setClipPath(clip);
        p.fillRect(rect(), Qt::white);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(QRectF(rect()), *m_image);
    }

private:
    const QImage* m_image;
};

} // namespace

QRView::QRView(const QString& text, double side, QWidget* parent)
    : QWidget(parent)
    , m_side(side)
{
    const int edge = qRound(side);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(int(QRImage::kViewSpacing));

    m_tile = new CodeTile(&m_image, edge, this);
    stack->addWidget(m_tile, 0, Qt::AlignHCenter);

    // The platform's caption style in orange; the palette's amber is that here.
    m_warning = DSText::label(QString(), DSFont::system(11), DS::amber(), this);
    m_warning->setWordWrap(true);
    m_warning->setFixedWidth(edge);
    m_warning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    stack->addWidget(m_warning, 0, Qt::AlignHCenter);

    m_failure = new QWidget(this);
    m_failure->setFixedSize(edge, edge);
    auto* failureStack = new QVBoxLayout(m_failure);
    failureStack->setContentsMargins(0, 0, 0, 0);
    failureStack->setSpacing(int(QRImage::kViewSpacing));
    failureStack->addStretch(1);
    QLabel* title = DSText::label(QRImage::failureTitle(), DSFont::system(13), DS::ink(), m_failure);
    failureStack->addWidget(title, 0, Qt::AlignHCenter);
    QLabel* hint = DSText::label(QRImage::failureHint(), DSFont::system(11), DS::muted(0.55), m_failure);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignHCenter);
    failureStack->addWidget(hint, 0, Qt::AlignHCenter);
    failureStack->addStretch(1);
    stack->addWidget(m_failure, 0, Qt::AlignHCenter);

    setText(text);
}

void QRView::setText(const QString& text)
{
    if (text == m_text && m_renderedRatio > 0)
        return;
    m_text = text;
    render();
}

bool QRView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A screen of another pixel density gets an image made for it.
    if ((event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal)
        && !qFuzzyCompare(devicePixelRatioF(), m_renderedRatio))
        render();
    return handled;
}

void QRView::render()
{
    m_renderedRatio = devicePixelRatioF();
    QRImage::RenderOptions options;
    options.devicePixelRatio = m_renderedRatio;
    QString line;
    options.diagnostic = [&line](const QString& l) { line = l; };
    m_image = QRImage::make(m_text, m_side, options);
    m_diagnostic = line;
    if (!line.isEmpty()) {
        std::fputs(line.toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    const bool made = !m_image.isNull();
    m_tile->setVisible(made);
    m_failure->setVisible(!made);
    const std::optional<double> mm = made ? QRImage::moduleMM(m_text, m_side) : std::nullopt;
    const bool dense = mm && *mm < QRImage::kMinimumModuleMM;
    m_warning->setText(dense ? QRImage::densityWarning(*mm) : QString());
    m_warning->setVisible(dense);
    m_tile->update();
}
