// Form records applied through the components' published properties, and the texts offered
// for translation.
#include "lcforms/FormTranslation.h"

#include "lc/LcUnit.h"
#include "base/ClassName.h"
#include "base/Ansi.h"
#include "base/Collection.h"
#include "base/Exception.h"
#include "base/ResStrings.h"
#include "base/Strings.h"
#include "forms/Form.h"

#include <QMetaObject>

namespace zentrop {

namespace {

bool IsString(const QMetaProperty& p)
{
    return p.metaType().id() == QMetaType::QString;
}

bool IsObject(const QMetaProperty& p)
{
    return p.metaType().flags().testFlag(QMetaType::PointerToQObject);
}

// Toolkit classes declare their properties under their own names (text, windowTitle, ...);
// only our component classes publish the framework's.
bool IsToolkitClass(const QMetaObject* meta)
{
    return meta->className()[0] == 'Q';
}

} // namespace

std::optional<QMetaProperty> PublishedProperty(const QObject* obj, const QString& name)
{
    for (const QMetaObject* meta = obj->metaObject(); meta && !IsToolkitClass(meta); meta = meta->superClass())
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
            if (QString::fromLatin1(meta->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
                return meta->property(i);
    return std::nullopt;
}

QObject* FindFormComponent(TForm* form, const QString& name)
{
    if (form->objectName().compare(name, Qt::CaseInsensitive) == 0)
        return form;
    return form->FindComponent(name);
}

std::optional<QMetaProperty> ResolvePath(QObject*& obj, const QStringList& path, int level, lcf::IndexKind& kind, int& index)
{
    QString name;
    lcf::SplitIndexed(path[level], kind, index, name);
    const auto info = PublishedProperty(obj, name);
    if (!info)
        return std::nullopt;
    if (level == path.size() - 1)
        return info;
    if (!IsObject(*info))
        return std::nullopt;
    obj = info->read(obj).value<QObject*>();
    switch (kind) {
    case lcf::IndexKind::ikStrings:
        return std::nullopt;
    case lcf::IndexKind::ikCollection: {
        // A missing collection or a negative index addresses nothing.
        if (!obj || index < 0) {
            obj = nullptr;
            return std::nullopt;
        }
        auto* collection = qobject_cast<TCollection*>(obj);
        if (!collection)
            throw EInvalidCast(LoadResString(res::SInvalidCast));
        obj = collection->Items(index);
        if (!obj)
            return std::nullopt;
        return ResolvePath(obj, path, level + 1, kind, index);
    }
    case lcf::IndexKind::ikNone:
        if (!obj)
            return std::nullopt;
        return ResolvePath(obj, path, level + 1, kind, index);
    }
    return std::nullopt;
}

bool TProp::Load(const lcf::FormEntry& record)
{
    const QString key = DecodeAnsi(record.Key);
    int pos = 1;
    FComponentName = lcf::NextToken(key, u'-', pos);
    FPropPath = pos > 0 ? lcf::NextToken(key, u'-', pos) : QString();
    FHasText = record.HasText;
    FText = record.Text;
    return true;
}

void TProp::Apply(TForm* form) const
{
    QObject* obj = FindFormComponent(form, FComponentName);
    if (!obj)
        return;
    QStringList path;
    int pos = 1;
    do
        path.append(lcf::NextToken(FPropPath, u'.', pos));
    while (pos > 0);
    lcf::IndexKind kind = lcf::IndexKind::ikNone;
    int index = 0;
    const auto info = ResolvePath(obj, path, 0, kind, index);
    if (info) {
        if (IsString(*info) && info->isWritable() && info->read(obj).toString() != FText)
            info->write(obj, FText);
        return;
    }
    auto* list = qobject_cast<TStrings*>(obj);
    if (list && kind == lcf::IndexKind::ikStrings && index >= 0 && index < list->Count() && list->Get(index) != FText)
        list->Put(index, FText);
}

bool TProps::Load()
{
    const auto record = FLcf->FindResource(ClassName(FForm->metaObject()).toUpper());
    if (!record)
        return false;
    const QList<lcf::FormEntry> entries = lcf::ReadFormRecord(*record, FLcf->LangIndex());
    for (auto e = entries.crbegin(); e != entries.crend(); ++e) {
        auto prop = std::make_unique<TProp>(FLcf);
        prop->Load(*e);
        FItems.push_back(std::move(prop));
    }
    return true;
}

bool LcTranslateForm(TForm* form)
{
    TLcf* lcf = CurrentLcf();
    if (!lcf)
        return false;
    TProps props(lcf, form);
    if (!props.Load())
        return false;
    for (const auto& prop : props.Items())
        if (prop->HasText())
            prop->Apply(form);
    return true;
}

namespace {

// The properties that hold what a person reads; a port name or a font face is not text to
// translate, though a record may still address it.
bool IsShownText(const QMetaProperty& p)
{
    static const QStringList names{QStringLiteral("Caption"), QStringLiteral("Hint"), QStringLiteral("Text"),
                                   QStringLiteral("Title"), QStringLiteral("Filter")};
    return names.contains(QString::fromLatin1(p.name()));
}

void CollectTexts(QObject* obj, const QString& prefix, const QList<QObject*>& components, QList<FormText>& out)
{
    for (const QMetaObject* meta = obj->metaObject(); meta && !IsToolkitClass(meta); meta = meta->superClass())
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty p = meta->property(i);
            const QString key = prefix + QString::fromLatin1(p.name());
            if (IsString(p)) {
                const QString text = p.read(obj).toString();
                if (p.isWritable() && IsShownText(p) && !text.isEmpty())
                    out.append({key, text});
                continue;
            }
            if (!IsObject(p))
                continue;
            QObject* value = p.read(obj).value<QObject*>();
            if (!value || components.contains(value))
                continue;
            if (auto* list = qobject_cast<TStrings*>(value)) {
                for (int line = 0; line < list->Count(); ++line)
                    if (!list->Get(line).isEmpty())
                        out.append({key + QStringLiteral(".Strings(%1)").arg(line), list->Get(line)});
            } else if (auto* collection = qobject_cast<TCollection*>(value)) {
                for (int item = 0; item < collection->Count(); ++item)
                    CollectTexts(collection->Items(item), key + QStringLiteral("<%1>.").arg(item), components, out);
            } else {
                CollectTexts(value, key + u'.', components, out);
            }
        }
}

} // namespace

QList<FormText> FormTexts(TForm* form)
{
    QList<FormText> out;
    const QList<QObject*> components = form->Components();
    CollectTexts(form, form->objectName() + u'-', components, out);
    for (QObject* c : components)
        if (!c->objectName().isEmpty())
            CollectTexts(c, c->objectName() + u'-', components, out);
    return out;
}

} // namespace zentrop
