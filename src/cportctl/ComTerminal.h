// The terminal control: a widget that owns the terminal's behaviour (buffer, parser, caret),
// hears its port through a link of its own and sends typed keys to it. The display (font
// metrics, painting, caret drawing, scrolling) overrides the display hooks of the behaviour.
#pragma once

#include "TermCore.h"
#include "cport/ComPort.h"
#include "forms/Font.h"

#include <QPointer>
#include <QWidget>

class TCustomComTerminal : public QWidget, public TComTermCore {
    Q_OBJECT

public:
    static constexpr int DefaultWidth = 400;
    static constexpr int DefaultHeight = 250;

    explicit TCustomComTerminal(QWidget* Parent = nullptr);
    ~TCustomComTerminal() override;

    TComLink* ComLink() { return &FComLink; }

    TCustomComPort* ComPort() const { return FComPort.data(); }
    // Moves the terminal's link from the old port to the new one. The terminal forgets a
    // port that is destroyed.
    void SetComPort(TCustomComPort* Port);
    // A port is set and open.
    bool Connected() const;
    // Opens or closes the port; nothing without one.
    void SetConnected(bool Value);

    TFont* Font() const { return FFont; }

    // Stored for the display, which gives them their effect.
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value) { FBorderStyle = Value; }
    TTermCaret Caret() const { return FCaret; }
    void SetCaret(TTermCaret Value) { FCaret = Value; }
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value) { FScrollBars = Value; }
    bool SmoothScroll() const { return FSmoothScroll; }
    void SetSmoothScroll(bool Value) { FSmoothScroll = Value; }
    bool WantTab() const { return FWantTab; }
    void SetWantTab(bool Value) { FWantTab = Value; }

    bool HasPort() const override { return FComPort != nullptr; }
    bool PortConnected() const override { return Connected(); }
    void WriteStr(const QByteArray& Str) override;

protected:
    QObject* EventSender() const override { return const_cast<TCustomComTerminal*>(this); }
    void keyPressEvent(QKeyEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    TComLink FComLink;
    QPointer<TCustomComPort> FComPort;
    TFont* FFont;
    TBorderStyle FBorderStyle = TBorderStyle::bsSingle;
    TTermCaret FCaret = TTermCaret::tcBlock;
    TScrollStyle FScrollBars = TScrollStyle::ssBoth;
    bool FSmoothScroll = false;
    bool FWantTab = false;
};

// The terminal control with its settings published under their names.
class TComTerminal : public TCustomComTerminal {
    Q_OBJECT
    Q_PROPERTY(int AltColor READ AltColor WRITE SetAltColor)
    Q_PROPERTY(bool AppendLF READ AppendLF WRITE SetAppendLF)
    Q_PROPERTY(TermTypes::TArrowKeys ArrowKeys READ ArrowKeys WRITE SetArrowKeys)
    Q_PROPERTY(TermTypes::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TermTypes::TTermCaret Caret READ Caret WRITE SetCaret)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(int Columns READ Columns WRITE SetColumns)
    Q_PROPERTY(TCustomComPort* ComPort READ ComPort WRITE SetComPort)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected STORED false)
    Q_PROPERTY(TermTypes::TTermEmulation Emulation READ Emulation WRITE SetEmulation)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Force7Bit READ Force7Bit WRITE SetForce7Bit)
    Q_PROPERTY(bool LocalEcho READ LocalEcho WRITE SetLocalEcho)
    Q_PROPERTY(int Rows READ Rows WRITE SetRows)
    Q_PROPERTY(TermTypes::TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(bool SendLF READ SendLF WRITE SetSendLF)
    Q_PROPERTY(bool SmoothScroll READ SmoothScroll WRITE SetSmoothScroll)
    Q_PROPERTY(bool WantTab READ WantTab WRITE SetWantTab)
    Q_PROPERTY(bool WrapLines READ WrapLines WRITE SetWrapLines)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)

public:
    using TCustomComTerminal::TCustomComTerminal;

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& Value) { setToolTip(Value); }
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool Value) { setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus); }
};
