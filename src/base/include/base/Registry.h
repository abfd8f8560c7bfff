// A small registry-like store: text and 32-bit integer values, each keeping its type,
// under nested keys, kept in the per-user configuration store (or in a file of its own).
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

namespace zentrop {

class TRegistry {
public:
    enum class TRegDataType { rdUnknown, rdString, rdInteger };

    // The store of this user for the given organisation and application.
    TRegistry(const QString& Organization, const QString& Application);
    // A store in a file of its own.
    explicit TRegistry(const QString& FileName);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens a key by its path ("a/b"); a key that does not exist is opened only when
    // CanCreate (it exists once a value is written). False when it was not opened.
    bool OpenKey(const QString& Key, bool CanCreate);
    void CloseKey();
    QString CurrentPath() const { return FKey; }
    bool KeyExists(const QString& Key) const;
    QStringList GetValueNames() const;

    bool ValueExists(const QString& Name) const;
    TRegDataType GetDataType(const QString& Name) const;
    // Writing makes the value reach the store at once; a store that cannot be written
    // raises ERegistryException "Failed to set data for '%s'".
    void WriteString(const QString& Name, const QString& Value);
    void WriteInteger(const QString& Name, int Value);
    // A missing text reads as empty; a value of the other type raises "Invalid data type
    // for '%s'", a missing integer "Failed to get data for '%s'".
    QString ReadString(const QString& Name) const;
    int ReadInteger(const QString& Name) const;
    bool DeleteValue(const QString& Name);

private:
    QString Path(const QString& Name) const;
    void Write(const QString& Name, const QString& Stored);

    std::unique_ptr<QSettings> FSettings;
    QString FKey;
};

} // namespace zentrop
