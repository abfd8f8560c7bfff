// The font object of a control, reading and writing the widget's own font.
#include "forms/Font.h"

#include <QFont>
#include <QFontMetrics>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace zentrop {

QFont DesignFont(const QString& face, int pixelHeight)
{
    QFont f(face);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight);
    return f;
}

TFont::TFont(QWidget* widget)
    : QObject(widget), FWidget(widget)
{
}

QString TFont::Name() const
{
    return FWidget->font().family();
}

void TFont::SetName(const QString& name)
{
    QFont f = FWidget->font();
    f.setFamily(name);
    f.setStyleHint(QFont::SansSerif);
    FWidget->setFont(f);
}

int TFont::Size() const
{
    const QFont f = FWidget->font();
    if (f.pixelSize() > 0)
        return static_cast<int>(std::lround(f.pixelSize() * 72.0 / DesignDpi));
    return static_cast<int>(std::lround(f.pointSizeF()));
}

void TFont::SetSize(int points)
{
    QFont f = FWidget->font();
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * DesignDpi / 72.0))));
    FWidget->setFont(f);
}

int TFont::Height() const
{
    const QFont f = FWidget->font();
    const int pixels = f.pixelSize() > 0 ? f.pixelSize() : static_cast<int>(std::lround(f.pointSizeF() * DesignDpi / 72.0));
    return -pixels;
}

void TFont::SetHeight(int height)
{
    QFont f = FWidget->font();
    if (height < 0) {
        f.setPixelSize(-height);
    } else if (height > 0) {
        // A cell height includes the internal leading; scale the character height to fit it.
        const QFontMetrics m(f);
        const int cell = std::max(1, m.height());
        const int em = f.pixelSize() > 0 ? f.pixelSize() : m.ascent();
        f.setPixelSize(std::max(1, static_cast<int>(std::lround(double(height) * em / cell))));
    }
    FWidget->setFont(f);
}

int TFont::Color() const
{
    const QColor c = FWidget->palette().color(QPalette::WindowText);
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

void TFont::SetColor(int color)
{
    const QColor c(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    QPalette p = FWidget->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    FWidget->setPalette(p);
}

} // namespace zentrop
