// The form: a top-level window with an optional menu bar above a client area of fixed or
// free size, the components it owns by name, Enter and Escape for its default and cancel
// buttons, and a modal run that ends when its modal result is set.
#pragma once

#include "forms/Font.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QEventLoop;
class QMenuBar;
class QVBoxLayout;

namespace zentrop {

class TButton;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

class TForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(int ClientWidth READ ClientWidth WRITE SetClientWidth)
    Q_PROPERTY(int ClientHeight READ ClientHeight WRITE SetClientHeight)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)
    Q_PROPERTY(TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TPosition Position READ Position WRITE SetPosition)

public:
    enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
    Q_ENUM(TFormBorderStyle)
    enum class TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter };
    Q_ENUM(TPosition)

    // Replaces the modal run of every form, so that tests can answer dialogs without an
    // event loop: the hook gets the form, may work its controls, and returns the modal result.
    using ShowModalHook = std::function<TModalResult(TForm&)>;
    static ShowModalHook SetShowModalHook(ShowModalHook hook);

    explicit TForm(QWidget* parent = nullptr);
    ~TForm() override;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }

    // The area below the menu bar; the form's controls lie in it.
    QWidget* Client() const { return FClient; }
    int ClientWidth() const { return FClientWidth; }
    void SetClientWidth(int width);
    int ClientHeight() const { return FClientHeight; }
    void SetClientHeight(int height);
    void SetClientSize(int width, int height);

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle style);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition position) { FPosition = position; }

    // Puts the menu bar above the client area (nullptr removes it).
    void SetMenuBar(QMenuBar* bar);
    QMenuBar* MenuBar() const { return FMenuBar; }

    // The components the form owns, in the order they were added. A component's Qt parent
    // is where it lies (a panel, a group box); its owner is the form that created it.
    template <typename T>
    T* Own(T* component, const QString& name)
    {
        component->setObjectName(name);
        InsertComponent(component);
        return component;
    }
    void InsertComponent(QObject* component);
    QList<QObject*> Components() const;
    // The owned component of that name, ignoring letter case; nullptr when none.
    QObject* FindComponent(const QString& name) const;

    TModalResult ModalResult() const { return FModalResult; }
    // While the form runs modally, a result other than mrNone ends the run.
    void SetModalResult(TModalResult result);
    // Shows the form modally and returns its modal result. Closing or hiding the form, or the
    // application's end, ends the run with mrCancel unless a result was set.
    TModalResult ShowModal();

    // The first showing places the window: centred, or at its designed position kept on the
    // screen. Hiding the form ends its modal run.
    void setVisible(bool visible) override;

    // The enabled and visible button marked Default (or Cancel); nullptr when none.
    TButton* DefaultButton() const;
    TButton* CancelButton() const;

protected:
    // The form is closing (by the user, close() or the end of a modal run).
    virtual void DoClose() {}

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ApplyClientSize();
    void Place();
    TButton* FindButton(bool cancel) const;

    QVBoxLayout* FLayout;
    QWidget* FClient;
    QMenuBar* FMenuBar = nullptr;
    TFont* FFont;
    QList<QPointer<QObject>> FComponents;
    int FTag = 0;
    int FClientWidth = 0;
    int FClientHeight = 0;
    TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
    TPosition FPosition = TPosition::poDesigned;
    TModalResult FModalResult = mrNone;
    QEventLoop* FModalLoop = nullptr;
    bool FPlaced = false;
};

} // namespace zentrop
