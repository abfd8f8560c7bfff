// Push button (with Default, Cancel and ModalResult), small flat speed button and check box.
#pragma once

#include "forms/Actions.h"
#include "forms/Font.h"
#include "forms/Form.h"

#include <QCheckBox>
#include <QPushButton>
#include <QToolButton>

#include <functional>

namespace zentrop {

class TButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Default READ Default WRITE SetDefault)
    Q_PROPERTY(bool Cancel READ Cancel WRITE SetCancel)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)
    Q_PROPERTY(TAction* Action READ Action WRITE SetAction)

public:
    explicit TButton(QWidget* parent);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    // Enter in the form presses the default button, Escape the cancel button.
    bool Default() const { return isDefault(); }
    void SetDefault(bool on) { setDefault(on); }
    bool Cancel() const { return FCancel; }
    void SetCancel(bool on) { FCancel = on; }
    // A click sets the form's modal result to this value (mrNone: leaves it).
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult result) { FModalResult = result; }
    TAction* Action() const { return FLink.Action(); }
    void SetAction(TAction* action) { FLink.SetAction(action); }

    std::function<void()> OnClick;

private:
    void Clicked();

    int FTag = 0;
    TFont* FFont;
    bool FCancel = false;
    TModalResult FModalResult = mrNone;
    TActionLink FLink;
};

class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
    Q_PROPERTY(TAction* Action READ Action WRITE SetAction)

public:
    explicit TSpeedButton(QWidget* parent);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    bool Flat() const { return autoRaise(); }
    void SetFlat(bool flat) { setAutoRaise(flat); }
    TAction* Action() const { return FLink.Action(); }
    void SetAction(TAction* action) { FLink.SetAction(action); }

    std::function<void()> OnClick;

private:
    int FTag = 0;
    TFont* FFont;
    TActionLink FLink;
};

class TCheckBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)

public:
    explicit TCheckBox(QWidget* parent);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    bool Checked() const { return isChecked(); }
    void SetChecked(bool on) { setChecked(on); }

    std::function<void()> OnClick;

private:
    int FTag = 0;
    TFont* FFont;
};

} // namespace zentrop
