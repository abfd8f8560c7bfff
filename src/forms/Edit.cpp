// The edit field: the user's edits reach OnChange, guarded by the error report.
#include "forms/Edit.h"

#include "forms/Application.h"

namespace zentrop {

TEdit::TEdit(QWidget* parent)
    : QLineEdit(parent), FFont(new TFont(this))
{
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (OnChange)
            Guarded(OnChange);
    });
}

void TEdit::SetMaxLength(int length)
{
    FMaxLength = length > 0 ? length : 0;
    // QLineEdit's own default is its largest limit.
    setMaxLength(FMaxLength > 0 ? FMaxLength : 32767);
}

} // namespace zentrop
