// Form translation: the form record of the language file in force applied to a form's
// components, each record addressing one published property by component name and a dotted
// property path; and the list of texts a form offers to translators.
#pragma once

#include "lc/LcfFormat.h"

#include <QList>
#include <QMetaProperty>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace zentrop {

class TForm;
class TLcf;

class TProp {
public:
    explicit TProp(TLcf* lcf) : FLcf(lcf) {}

    // Takes the key apart and keeps the text of the chosen language; always true.
    bool Load(const lcf::FormEntry& record);
    // Writes the text into the property the key addresses, starting from form. Records that
    // address nothing writable are skipped; the framework's errors (an index that is not an
    // integer, an item taken from something that is not a collection, an index past a
    // collection's end) are raised.
    void Apply(TForm* form) const;

    const QString& ComponentName() const { return FComponentName; }
    const QString& PropPath() const { return FPropPath; }
    const QString& Text() const { return FText; }
    bool HasText() const { return FHasText; }
    TLcf* Lcf() const { return FLcf; }

private:
    TLcf* FLcf;
    QString FComponentName;
    QString FPropPath;
    QString FText;
    bool FHasText = false;
};

class TProps {
public:
    TProps(TLcf* lcf, TForm* form) : FLcf(lcf), FForm(form) {}

    // Reads the form record named after the form's class; false when the file has none. The
    // records are kept last first, so that applying them in order lets the earlier win.
    bool Load();
    const std::vector<std::unique_ptr<TProp>>& Items() const { return FItems; }

private:
    TLcf* FLcf;
    TForm* FForm;
    std::vector<std::unique_ptr<TProp>> FItems;
};

// The form itself when name is its name, else the component it owns directly of that name,
// letter case ignored; nullptr when none.
QObject* FindFormComponent(TForm* form, const QString& name);

// A published property: one of the component classes' own, found by name without regard to
// case; the toolkit's inherited properties are not published.
std::optional<QMetaProperty> PublishedProperty(const QObject* obj, const QString& name);

// Walks path from level on, starting at obj. Returns the property of the last element, or
// nothing; obj, kind and index are left where the walk stopped.
std::optional<QMetaProperty> ResolvePath(QObject*& obj, const QStringList& path, int level, lcf::IndexKind& kind,
                                         int& index);

// Translates form from the language file in force. False when there is none or it has no
// record for the form's class.
bool LcTranslateForm(TForm* form);

// A text a translator can translate: the key of a form record and the current text.
struct FormText {
    QString Key;
    QString Text;
};

// Every non-empty caption, hint, text, title and filter that form translation reaches on the
// form and its components, with string list lines as "Name.Strings(i)" and collection items
// as "Name<i>". Object properties that hold another component are not followed.
QList<FormText> FormTexts(TForm* form);

} // namespace zentrop
