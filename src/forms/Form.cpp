// The form's client area, component list, dialog keys and modal run.
#include "forms/Form.h"

#include "forms/Buttons.h"
#include "forms/Font.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace zentrop {

namespace {

TForm::ShowModalHook& ModalHook()
{
    static TForm::ShowModalHook hook;
    return hook;
}

} // namespace

TForm::ShowModalHook TForm::SetShowModalHook(ShowModalHook hook)
{
    return std::exchange(ModalHook(), std::move(hook));
}

TForm::TForm(QWidget* parent)
    : QWidget(parent, Qt::Window),
      FLayout(new QVBoxLayout(this)),
      FClient(new QWidget(this)),
      FFont(new TFont(this))
{
    FLayout->setContentsMargins(0, 0, 0, 0);
    FLayout->setSpacing(0);
    FLayout->addWidget(FClient);
    FClient->setObjectName(QStringLiteral("client"));
}

TForm::~TForm() = default;

void TForm::SetClientWidth(int width)
{
    SetClientSize(width, FClientHeight);
}

void TForm::SetClientHeight(int height)
{
    SetClientSize(FClientWidth, height);
}

void TForm::SetClientSize(int width, int height)
{
    FClientWidth = width;
    FClientHeight = height;
    ApplyClientSize();
}

void TForm::SetBorderStyle(TFormBorderStyle style)
{
    FBorderStyle = style;
    Qt::WindowFlags flags = Qt::Window;
    if (style == TFormBorderStyle::bsDialog)
        flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    else if (style == TFormBorderStyle::bsSingle)
        flags |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    else if (style == TFormBorderStyle::bsNone)
        flags |= Qt::FramelessWindowHint;
    setWindowFlags(flags);
    ApplyClientSize();
}

void TForm::ApplyClientSize()
{
    const bool fixed = FBorderStyle != TFormBorderStyle::bsSizeable && FBorderStyle != TFormBorderStyle::bsSizeToolWin;
    if (fixed) {
        // The window is as large as its menu bar and client area, and cannot be resized.
        FClient->setFixedSize(FClientWidth, FClientHeight);
        FLayout->setSizeConstraint(QLayout::SetFixedSize);
    } else {
        FClient->setMinimumSize(0, 0);
        FClient->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        FLayout->setSizeConstraint(QLayout::SetDefaultConstraint);
        // A fixed size set before stays on the window until it is lifted here.
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        const int bar = FMenuBar ? FMenuBar->sizeHint().height() : 0;
        resize(FClientWidth, FClientHeight + bar);
    }
    FLayout->activate();
}

void TForm::SetMenuBar(QMenuBar* bar)
{
    FMenuBar = bar;
    FLayout->setMenuBar(bar);
    ApplyClientSize();
}

void TForm::InsertComponent(QObject* component)
{
    FComponents.append(component);
}

QList<QObject*> TForm::Components() const
{
    QList<QObject*> out;
    for (const QPointer<QObject>& c : FComponents)
        if (c)
            out.append(c.data());
    return out;
}

QObject* TForm::FindComponent(const QString& name) const
{
    for (const QPointer<QObject>& c : FComponents)
        if (c && c->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return c.data();
    return nullptr;
}

void TForm::SetModalResult(TModalResult result)
{
    FModalResult = result;
    if (FModalLoop && result != mrNone)
        FModalLoop->quit();
}

TModalResult TForm::ShowModal()
{
    FModalResult = mrNone;
    if (ModalHook()) {
        const ShowModalHook hook = ModalHook();
        FModalResult = hook(*this);
        return FModalResult;
    }
    setWindowModality(Qt::ApplicationModal);
    show();
    // One run: a modal result, closing or hiding the form quits it, and so does the end of
    // the application, after which every new loop would return at once.
    QEventLoop loop;
    FModalLoop = &loop;
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    FModalLoop = nullptr;
    if (FModalResult == mrNone)
        FModalResult = mrCancel;
    if (isVisible()) {
        // Ended by its modal result or from outside rather than by closing: it closes now.
        DoClose();
        hide();
    }
    setWindowModality(Qt::NonModal);
    return FModalResult;
}

TButton* TForm::FindButton(bool cancel) const
{
    const QList<TButton*> buttons = findChildren<TButton*>();
    for (TButton* b : buttons)
        if ((cancel ? b->Cancel() : b->Default()) && b->isVisibleTo(const_cast<TForm*>(this)) && b->isEnabled())
            return b;
    return nullptr;
}

TButton* TForm::DefaultButton() const
{
    return FindButton(false);
}

TButton* TForm::CancelButton() const
{
    return FindButton(true);
}

void TForm::closeEvent(QCloseEvent* event)
{
    DoClose();
    if (FModalLoop) {
        if (FModalResult == mrNone)
            FModalResult = mrCancel;
        FModalLoop->quit();
    }
    event->accept();
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    // Keys that no control took: Enter presses the default button, Escape the cancel button.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    TButton* button = nullptr;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
        button = DefaultButton();
    else if (plain && event->key() == Qt::Key_Escape)
        button = CancelButton();
    if (button) {
        button->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm::setVisible(bool visible)
{
    if (visible && !FPlaced && isWindow()) {
        FPlaced = true;
        Place();
    }
    QWidget::setVisible(visible);
    if (!visible && FModalLoop)
        FModalLoop->quit();
}

void TForm::Place()
{
    // Sized by its layout first (menu entries added while hidden did not resize it yet),
    // so that the whole window, menu bar included, is placed.
    FLayout->invalidate();
    FLayout->activate();
    const QScreen* s = screen();
    if (!s)
        return;
    const QRect area = s->availableGeometry();
    const QSize size = frameGeometry().size();
    QPoint at = pos();
    if (FPosition == TPosition::poScreenCenter)
        at = area.center() - QPoint(size.width() / 2, size.height() / 2);
    // A designed position is kept, but never so far out that the window cannot be reached.
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1)));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1)));
    move(at);
}

} // namespace zentrop
