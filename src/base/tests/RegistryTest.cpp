// The registry-like store: typed values under keys that survive a new store on the same
// file, and the errors of missing and mistyped values.
#include "base/Exception.h"
#include "base/Registry.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

QString MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return {};
}

TEST(Registry, ValuesKeepTheirTypesUnderTheirKey)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("store.conf");
    {
        TRegistry reg(file);
        EXPECT_FALSE(reg.OpenKey("Software/Zentrop", false));
        ASSERT_TRUE(reg.OpenKey("Software\\Zentrop", true));
        reg.WriteString("Port", "COM6");
        reg.WriteString("Empty", "");
        reg.WriteInteger("Size", -7200);
        reg.CloseKey();
    }
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKey("Software/Zentrop", false));
    EXPECT_EQ(reg.ReadString("Port"), "COM6");
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_EQ(reg.ReadInteger("Size"), -7200);
    EXPECT_EQ(reg.GetDataType("Port"), TRegistry::TRegDataType::rdString);
    EXPECT_EQ(reg.GetDataType("Size"), TRegistry::TRegDataType::rdInteger);
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_EQ(MessageOf([&] { reg.ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
    EXPECT_EQ(MessageOf([&] { reg.ReadInteger("Port"); }), "Invalid data type for 'Port'");
    EXPECT_EQ(MessageOf([&] { reg.ReadString("Size"); }), "Invalid data type for 'Size'");
    EXPECT_TRUE(reg.DeleteValue("Port"));
    EXPECT_FALSE(reg.ValueExists("Port"));
}

TEST(Registry, AStoreThatCannotBeWrittenRaises)
{
    TRegistry reg(QStringLiteral("/proc/zentrop-no-such-dir/store.conf"));
    ASSERT_TRUE(reg.OpenKey("k", true));
    EXPECT_EQ(MessageOf([&] { reg.WriteInteger("Size", 1); }), "Failed to set data for 'Size'");
}

} // namespace
