// Labels, group boxes, panels and progress bars.
#include "forms/Controls.h"

#include "forms/Font.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace zentrop {

TLabel::TLabel(QWidget* parent)
    : QLabel(parent), FFont(new TFont(this))
{
    // Captions are shown as they are: a file or firmware name is never taken for markup.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FitToText();
}

void TLabel::SetCaption(const QString& caption)
{
    setText(caption);
    FitToText();
}

void TLabel::SetAutoSize(bool on)
{
    FAutoSize = on;
    FitToText();
}

void TLabel::FitToText()
{
    if (FAutoSize)
        resize(sizeHint().expandedTo(QSize(1, fontMetrics().height())));
}

void TLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitToText();
}

TGroupBox::TGroupBox(QWidget* parent)
    : QGroupBox(parent), FFont(new TFont(this))
{
}

TPanel::TPanel(QWidget* parent)
    : QFrame(parent), FFont(new TFont(this))
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void TPanel::SetCaption(const QString& caption)
{
    FCaption = caption;
    update();
}

void TPanel::SetAlign(TAlign align)
{
    FAlign = align;
    if (QWidget* parent = parentWidget()) {
        if (!FWatchingParent) {
            parent->installEventFilter(this);
            FWatchingParent = true;
        }
        AlignPanels(parent);
    }
}

bool TPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        AlignPanels(parentWidget());
    return QFrame::eventFilter(watched, event);
}

void TPanel::AlignPanels(QWidget* parent)
{
    QRect free = parent->rect();
    QList<TPanel*> panels;
    for (QObject* child : parent->children())
        if (auto* p = qobject_cast<TPanel*>(child))
            panels.append(p);
    // Top and bottom edges first, then the sides, then the client: each takes from what is left.
    for (TAlign pass : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
        for (TPanel* p : panels) {
            if (p->FAlign != pass)
                continue;
            switch (pass) {
            case TAlign::alTop:
                p->setGeometry(free.left(), free.top(), free.width(), p->height());
                free.setTop(free.top() + p->height());
                break;
            case TAlign::alBottom:
                p->setGeometry(free.left(), free.bottom() + 1 - p->height(), free.width(), p->height());
                free.setBottom(free.bottom() - p->height());
                break;
            case TAlign::alLeft:
                p->setGeometry(free.left(), free.top(), p->width(), free.height());
                free.setLeft(free.left() + p->width());
                break;
            case TAlign::alRight:
                p->setGeometry(free.right() + 1 - p->width(), free.top(), p->width(), free.height());
                free.setRight(free.right() - p->width());
                break;
            case TAlign::alClient:
                p->setGeometry(free);
                break;
            case TAlign::alNone:
                break;
            }
        }
    }
}

void TPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (FCaption.isEmpty())
        return;
    QPainter painter(this);
    painter.drawText(contentsRect(), Qt::AlignCenter, FCaption);
}

TProgressBar::TProgressBar(QWidget* parent)
    : QProgressBar(parent)
{
    setTextVisible(false);
    Refresh();
}

void TProgressBar::SetMin(int min)
{
    FMin = min;
    FPosition = std::max(FPosition, FMin);
    Refresh();
}

void TProgressBar::SetMax(int max)
{
    FMax = max;
    FPosition = std::min(FPosition, std::max(FMin, FMax));
    Refresh();
}

void TProgressBar::SetPosition(int position)
{
    FPosition = std::clamp(position, FMin, std::max(FMin, FMax));
    Refresh();
}

void TProgressBar::StepIt()
{
    StepBy(FStep);
}

void TProgressBar::StepBy(int delta)
{
    int next = FPosition + delta;
    if (next > FMax && FMax > FMin)
        next = FMin + (next - FMin) % (FMax - FMin);
    SetPosition(next);
}

void TProgressBar::Refresh()
{
    // An empty range shows an empty bar, not the toolkit's busy animation.
    if (FMax > FMin) {
        setRange(FMin, FMax);
        setValue(FPosition);
    } else {
        setRange(0, 1);
        setValue(0);
    }
}

} // namespace zentrop
