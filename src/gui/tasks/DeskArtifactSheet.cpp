#include "gui/tasks/DeskArtifactSheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/EvidenceClient.h"
#include "core/tasks/EvidenceText.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/Marker.h"
#include "gui/design/ScreenFit.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/Style.h"
#include "gui/design/TabChain.h"
#include "gui/tasks/ArtifactText.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QWidget* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette p = line->palette();
    p.setColor(QPalette::Window, DS::muted(0.12));
    line->setPalette(p);
    return line;
}

ElidedLine* line(Qt::TextElideMode mode, const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* l = new ElidedLine(mode, text, parent);
    l->setFont(font);
    DSText::setColour(l, colour);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return l;
}

} // namespace

DeskArtifactSheet::DeskArtifactSheet(const DeskFileChange& file, std::optional<CLIConfig> cfg, EvidenceClient* evidence,
    const QString& taskText, QWidget* parent)
    : QDialog(parent)
    , m_file(file)
    , m_cfg(std::move(cfg))
    , m_evidence(evidence)
{
    setObjectName(QStringLiteral("deskartifact.screen"));
    const QString name = EvidenceText::lastPathComponent(file.path);
    setWindowTitle(name);
    setWindowModality(Qt::WindowModal);
    // Less on a screen that has not the room: the body scrolls.
    setFixedSize(QSize(kWidth, kHeight).boundedTo(ScreenFit::room(this)));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, DS::bg());
    pal.setColor(QPalette::Base, DS::bg());
    pal.setColor(QPalette::Text, DS::ink());
    pal.setColor(QPalette::WindowText, DS::ink());
    setPalette(pal);

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);

    auto* header = new QWidget(this);
    auto* head = new QVBoxLayout(header);
    head->setContentsMargins(14, 10, 14, 10);
    head->setSpacing(4);
    ElidedLine* nameLine = line(Qt::ElideMiddle, name, DSFont::bold(15), DS::ink(), header);
    nameLine->setObjectName(QStringLiteral("deskartifact.name"));
    head->addWidget(nameLine);
    head->addWidget(line(Qt::ElideMiddle, file.path, DSFont::monoMedium(10), DS::muted(0.45), header));
    head->addWidget(new Marker(QStringLiteral("deskartifact.path"), file.path, header));
    head->addWidget(line(Qt::ElideRight, taskText, DSFont::medium(10.5), DS::muted(0.4), header));
    col->addWidget(header);
    col->addWidget(divider(this));

    m_content = new QStackedWidget(this);

    m_spinnerPage = new QWidget;
    auto* spin = new QHBoxLayout(m_spinnerPage);
    spin->addStretch(1);
    spin->addWidget(new BusyIndicator(DS::muted(0.6), 16, m_spinnerPage), 0, Qt::AlignCenter);
    spin->addStretch(1);
    m_content->addWidget(m_spinnerPage);

    m_errorPage = new QWidget;
    m_errorPage->setObjectName(QStringLiteral("deskartifact.error"));
    auto* err = new QVBoxLayout(m_errorPage);
    err->setContentsMargins(0, 0, 0, 0);
    err->setSpacing(9);
    err->addStretch(1);
    m_errorTitle = DSText::label(QString(), DSFont::bold(14), DS::ink(), m_errorPage);
    err->addWidget(m_errorTitle, 0, Qt::AlignHCenter);
    m_errorWhy = DSText::label(QString(), DSFont::medium(11.5), DS::muted(0.6), m_errorPage);
    m_errorWhy->setObjectName(QStringLiteral("deskartifact.error.why"));
    m_errorWhy->setWordWrap(true);
    m_errorWhy->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_errorWhy->setContentsMargins(40, 0, 40, 0);
    err->addWidget(m_errorWhy);
    m_retry = new SecondaryButton(
        QStringLiteral("重试"), QStringLiteral("deskartifact.retry"), [this] { retry(); }, m_errorPage);
    err->addWidget(m_retry, 0, Qt::AlignHCenter);
    err->addStretch(1);
    m_content->addWidget(m_errorPage);

    // A plain-text view lays out only what is on screen, and takes a large
    // file in slices: it scrolls smoothly and is never cut.
    m_body = new ArtifactText(this);
    m_body->setObjectName(QStringLiteral("deskartifact.body"));
    m_body->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_body->setFrameShape(QFrame::NoFrame);
    m_body->setFont(DSFont::monoMedium(11));
    m_body->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_body->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_body->document()->setDocumentMargin(14);
    m_body->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_body->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette bodyPalette = m_body->palette();
    bodyPalette.setColor(QPalette::Base, Qt::transparent);
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        bodyPalette.setColor(group, QPalette::Text, DS::ink());
    m_body->setPalette(bodyPalette);
    m_body->viewport()->setAutoFillBackground(false);
    m_body->verticalScrollBar()->setStyleSheet(Style::scrollBar());
    m_content->addWidget(m_body);

    m_nothing = new QWidget;
    m_content->addWidget(m_nothing);
    col->addWidget(m_content, 1);

    col->addWidget(divider(this));
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 12, 12, 12);
    bar->addStretch(1);
    bar->addWidget(new SecondaryButton(
        QStringLiteral("关闭"), QStringLiteral("deskartifact.close"), [this] { reject(); }, this));
    col->addLayout(bar);

    showContent();
}

void DeskArtifactSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Measured again with the frame it was given, and moved onto the screen.
    setFixedSize(QSize(kWidth, kHeight).boundedTo(ScreenFit::room(this)));
    ScreenFit::keepOnScreen(this);
    if (!m_started) {
        m_started = true;
        load(m_tick);
    }
}

void DeskArtifactSheet::retry()
{
    ++m_tick;
    load(m_tick);
}

QCoro::Task<> DeskArtifactSheet::load(int tick)
{
    QPointer<DeskArtifactSheet> self(this);
    m_loading = true;
    m_failure.reset();
    m_retryable = false;
    showContent();

    if (const std::optional<QString> why = EvidenceText::notUploaded(m_file)) {
        m_failure = *why;
        m_loading = false;
        showContent();
        emit loadFinished();
        co_return;
    }
    if (!m_evidence)
        co_return;
    const Result<QString> result = co_await m_evidence->artifact(m_file.hash, m_cfg);
    // A newer load (retry) owns the sheet now.
    if (!self || self->m_tick != tick)
        co_return;
    if (result.ok()) {
        m_text = result.value();
        m_body->showText(*m_text);
    } else {
        const EvidenceText::ArtifactFailure failure = EvidenceText::artifactFailure(result.failure());
        m_failure = failure.text;
        m_retryable = failure.retryable;
    }
    m_loading = false;
    showContent();
    emit loadFinished();
}

void DeskArtifactSheet::showContent()
{
    if (m_loading) {
        m_content->setCurrentWidget(m_spinnerPage);
    } else if (m_failure) {
        m_errorTitle->setText(m_retryable ? QStringLiteral("文档暂时无法打开") : QStringLiteral("打不开这份产物"));
        m_errorWhy->setText(*m_failure);
        m_retry->setVisible(m_retryable);
        m_content->setCurrentWidget(m_errorPage);
    } else if (m_text) {
        m_content->setCurrentWidget(m_body);
    } else {
        m_content->setCurrentWidget(m_nothing);
    }
}

bool DeskArtifactSheet::focusNextPrevChild(bool next)
{
    // "重试" giving way to the spinner keeps the keyboard where it was.
    return TabChain::focusNextPrevChild(this, next);
}
