// The one-line edit field: its text, a length limit and a change notification for the user's edits.
#pragma once

#include "forms/Font.h"

#include <QLineEdit>

#include <functional>

namespace zentrop {

class TEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)

public:
    explicit TEdit(QWidget* parent);

    QString Text() const { return text(); }
    void SetText(const QString& text) { setText(text); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    // 0: no limit.
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int length);

    // Called when the user (not the program) changes the text.
    std::function<void()> OnChange;

private:
    int FTag = 0;
    int FMaxLength = 0;
    TFont* FFont;
};

} // namespace zentrop
