// Port details from a sysfs, by-id and /proc tree built by the test: a USB adapter, a
// port without USB, and a process holding a port open.
#include "cport/PortDetails.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace zentrop;

namespace {

void Put(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

void Link(const QString& target, const QString& link)
{
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link)) << link.toStdString();
}

} // namespace

TEST(PortDetails, UsbAdapterByIdAndHolder)
{
    QTemporaryDir t;
    const QString r = t.path();
    // An adapter: the tty's device is the interface's port, two levels below the USB device.
    const QString usb = r + "/devices/usb1/1-1";
    Put(usb + "/idVendor", "0403\n");
    Put(usb + "/idProduct", "6001\n");
    Put(usb + "/manufacturer", "FTDI\n");
    Put(usb + "/product", "FT232R USB UART\n");
    Put(usb + "/serial", "A1B2C3\n");
    QDir().mkpath(usb + "/1-1:1.0/ttyUSB0");
    QDir().mkpath(r + "/drivers/ftdi_sio");
    Link(r + "/drivers/ftdi_sio", usb + "/1-1:1.0/ttyUSB0/driver");
    Link(usb + "/1-1:1.0/ttyUSB0", r + "/class/tty/ttyUSB0/device");
    // A platform port without USB, and no by-id link.
    QDir().mkpath(r + "/devices/platform/serial8250/tty/ttyS4");
    Link(r + "/devices/platform/serial8250/tty/ttyS4", r + "/class/tty/ttyS4/device");
    // The device nodes are plain files here; a by-id link names the adapter.
    Put(r + "/dev/ttyUSB0", "");
    Put(r + "/dev/ttyS4", "");
    Link("../../ttyUSB0", r + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    // Process 4711 holds the adapter open on descriptor 5.
    Put(r + "/proc/4711/comm", "minicom\n");
    Link(r + "/dev/ttyUSB0", r + "/proc/4711/fd/5");
    Link("/dev/null", r + "/proc/4711/fd/0");

    const std::vector<PortDetails> d =
        DescribePorts({r + "/dev/ttyUSB0", r + "/dev/ttyS4"}, {r + "/class/tty", r + "/dev/serial/by-id", r + "/proc"});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].VendorId, "0403");
    EXPECT_EQ(d[0].ProductId, "6001");
    EXPECT_EQ(d[0].Manufacturer, "FTDI");
    EXPECT_EQ(d[0].Product, "FT232R USB UART");
    EXPECT_EQ(d[0].Serial, "A1B2C3");
    EXPECT_EQ(d[0].Driver, "ftdi_sio");
    EXPECT_EQ(d[0].ById, r + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    ASSERT_EQ(d[0].Holders.size(), 1u);
    EXPECT_EQ(DescribeHolders(d[0].Holders), "minicom (process 4711)");

    EXPECT_TRUE(d[1].VendorId.isEmpty());
    EXPECT_TRUE(d[1].ById.isEmpty());
    EXPECT_TRUE(d[1].Holders.empty());
}
