// The registry-like store over QSettings. Every value is kept as text with its type in
// front ("sz:" or "dword:"), since the configuration file keeps no types of its own.
#include "base/Registry.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

#include <QSettings>

namespace zentrop {

namespace {

const QString kString = QStringLiteral("sz:");
const QString kInteger = QStringLiteral("dword:");

[[noreturn]] void Raise(int Ident, const QString& Name)
{
    throw ERegistryException(Format(LoadResString(Ident), {Name}));
}

QString Normalized(QString Key)
{
    Key.replace(u'\\', u'/');
    while (Key.startsWith(u'/'))
        Key.remove(0, 1);
    while (Key.endsWith(u'/'))
        Key.chop(1);
    return Key;
}

} // namespace

TRegistry::TRegistry(const QString& Organization, const QString& Application)
    : FSettings(std::make_unique<QSettings>(Organization, Application))
{
}

TRegistry::TRegistry(const QString& FileName)
    : FSettings(std::make_unique<QSettings>(FileName, QSettings::IniFormat))
{
}

TRegistry::~TRegistry() = default;

bool TRegistry::KeyExists(const QString& Key) const
{
    const QString key = Normalized(Key);
    FSettings->beginGroup(key);
    const bool exists = !FSettings->childKeys().isEmpty() || !FSettings->childGroups().isEmpty();
    FSettings->endGroup();
    return exists;
}

bool TRegistry::OpenKey(const QString& Key, bool CanCreate)
{
    if (!CanCreate && !KeyExists(Key))
        return false;
    FKey = Normalized(Key);
    return true;
}

void TRegistry::CloseKey()
{
    FSettings->sync();
    FKey.clear();
}

QStringList TRegistry::GetValueNames() const
{
    FSettings->beginGroup(FKey);
    const QStringList names = FSettings->childKeys();
    FSettings->endGroup();
    return names;
}

QString TRegistry::Path(const QString& Name) const
{
    return FKey.isEmpty() ? Name : FKey + u'/' + Name;
}

bool TRegistry::ValueExists(const QString& Name) const
{
    return FSettings->contains(Path(Name));
}

TRegistry::TRegDataType TRegistry::GetDataType(const QString& Name) const
{
    const QString stored = FSettings->value(Path(Name)).toString();
    if (stored.startsWith(kString))
        return TRegDataType::rdString;
    if (stored.startsWith(kInteger))
        return TRegDataType::rdInteger;
    return TRegDataType::rdUnknown;
}

void TRegistry::Write(const QString& Name, const QString& Stored)
{
    FSettings->setValue(Path(Name), Stored);
    FSettings->sync();
    if (FSettings->status() != QSettings::NoError)
        Raise(res::SRegSetDataFailed, Name);
}

void TRegistry::WriteString(const QString& Name, const QString& Value)
{
    Write(Name, kString + Value);
}

void TRegistry::WriteInteger(const QString& Name, int Value)
{
    Write(Name, kInteger + QString::number(Value));
}

QString TRegistry::ReadString(const QString& Name) const
{
    if (!ValueExists(Name))
        return {};
    const QString stored = FSettings->value(Path(Name)).toString();
    if (!stored.startsWith(kString))
        Raise(res::SInvalidRegType, Name);
    return stored.mid(kString.size());
}

int TRegistry::ReadInteger(const QString& Name) const
{
    if (!ValueExists(Name))
        Raise(res::SRegGetDataFailed, Name);
    const QString stored = FSettings->value(Path(Name)).toString();
    bool ok = false;
    const int value = stored.mid(kInteger.size()).toInt(&ok);
    if (!stored.startsWith(kInteger) || !ok)
        Raise(res::SInvalidRegType, Name);
    return value;
}

bool TRegistry::DeleteValue(const QString& Name)
{
    if (!ValueExists(Name))
        return false;
    FSettings->remove(Path(Name));
    FSettings->sync();
    return true;
}

} // namespace zentrop
