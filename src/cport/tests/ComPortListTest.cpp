// The installed port list from a sysfs tree built in a temporary folder, and the
// replaceable source behind EnumComPorts.
#include "cport/ComPortList.h"
#include "posix/PosixComPortList.h"

#include "cport/ComError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

// An entry of the tty class: with a device link when it has hardware, and the serial
// core's type attribute when given.
void AddTty(const QString& root, const QString& name, bool hasDevice, const char* type = nullptr)
{
    QDir(root).mkpath(name);
    if (hasDevice)
        QFile::link(root, root + u'/' + name + QStringLiteral("/device"));
    if (type) {
        QFile f(root + u'/' + name + QStringLiteral("/type"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(type);
    }
}

} // namespace

TEST(ComPortList, ListsTtysWithHardwareAndSkipsEmptyUartSlots)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/tty");
    AddTty(root, "tty0", false);
    AddTty(root, "ttyUSB0", true);
    AddTty(root, "ttyACM1", true);
    AddTty(root, "ttyS0", true, "4\n");   // a 16550A answers
    AddTty(root, "ttyS1", true, "0\n");   // nothing there
    AddTty(root, "ttyS2", true);          // no type to go by: kept
    AddTty(root, "ptmx", false);
    QStringList ports = ListSysfsComPorts(root, QStringLiteral("/devx"));
    ports.sort();
    EXPECT_EQ(ports, QStringList({"/devx/ttyACM1", "/devx/ttyS0", "/devx/ttyS2", "/devx/ttyUSB0"}));
}

TEST(ComPortList, UnreadableSysfsRaisesCode23)
{
    try {
        ListSysfsComPorts(QStringLiteral("/nonexistent/zentrop/tty"));
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 23);
        EXPECT_EQ(e.SystemCode(), ENOENT);
        EXPECT_EQ(e.Message(), "COM Port Error: Registry error on EnumComPorts");
    }
}

TEST(ComPortList, EnumComPortsSortsCaseInsensitivelyAndKeepsTheListOnFailure)
{
    const ComPortSource previous = SetComPortSource([] { return QStringList{"COM2", "com10", "COM1"}; });
    TStringList ports;
    EnumComPorts(ports);
    EXPECT_EQ(ports.ToStringList(), QStringList({"COM1", "com10", "COM2"}));

    SetComPortSource([]() -> QStringList { throw EComPortExt("EnumComPorts", 23, 5); });
    EXPECT_THROW(EnumComPorts(ports), EComPortExt);
    EXPECT_EQ(ports.ToStringList(), QStringList({"COM1", "com10", "COM2"}));

    // An empty source restores the system's list, which this machine can always read.
    SetComPortSource({});
    EXPECT_NO_THROW(EnumComPorts(ports));
    SetComPortSource(previous);
}
