// Label, group box, panel (with alignment to an edge of its parent) and progress bar.
#pragma once

#include "forms/Font.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>

namespace zentrop {

class TLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

public:
    explicit TLabel(QWidget* parent);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    // An auto-sized label is as large as its text; otherwise it keeps the size it was given.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool on);

protected:
    void changeEvent(QEvent* event) override;

private:
    void FitToText();

    int FTag = 0;
    TFont* FFont;
    bool FAutoSize = true;
};

class TGroupBox : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)

public:
    explicit TGroupBox(QWidget* parent);

    QString Caption() const { return title(); }
    void SetCaption(const QString& caption) { setTitle(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }

private:
    int FTag = 0;
    TFont* FFont;
};

class TPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(TAlign Align READ Align WRITE SetAlign)

public:
    enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
    Q_ENUM(TAlign)

    explicit TPanel(QWidget* parent);

    // Shown centred on the panel.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    // A panel aligned to an edge spans that edge of its parent and keeps its height (top,
    // bottom) or width (left, right); alClient takes what the aligned panels leave.
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign align);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static void AlignPanels(QWidget* parent);

    QString FCaption;
    int FTag = 0;
    TFont* FFont;
    TAlign FAlign = TAlign::alNone;
    bool FWatchingParent = false;
};

class TProgressBar : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Step READ Step WRITE SetStep)

public:
    explicit TProgressBar(QWidget* parent);

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    int Min() const { return FMin; }
    void SetMin(int min);
    int Max() const { return FMax; }
    void SetMax(int max);
    // Kept within Min and Max.
    int Position() const { return FPosition; }
    void SetPosition(int position);
    int Step() const { return FStep; }
    void SetStep(int step) { FStep = step; }
    // Advances by Step; past Max the bar starts over from Min.
    void StepIt();
    void StepBy(int delta);

private:
    void Refresh();

    int FTag = 0;
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    int FStep = 10;
};

} // namespace zentrop
