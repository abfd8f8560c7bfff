// The Font property of controls and forms: an object bound to one widget's font, so that a
// path such as "Font.Name" reaches the family of the font the widget really uses.
#pragma once

#include <QFont>
#include <QObject>
#include <QString>

class QWidget;

namespace zentrop {

class TFont : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Size READ Size WRITE SetSize)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(int Color READ Color WRITE SetColor)

public:
    // Screen resolution the point sizes of the forms were designed for.
    static constexpr int DesignDpi = 96;

    explicit TFont(QWidget* widget);

    QString Name() const;
    void SetName(const QString& name);
    // Size in points, at the design resolution.
    int Size() const;
    void SetSize(int points);
    // Negative: the character height in pixels; positive: the cell height in pixels.
    int Height() const;
    void SetHeight(int height);
    // The text colour as the forms store colours, 0x00BBGGRR; the widget's foreground.
    int Color() const;
    void SetColor(int color);

private:
    QWidget* FWidget;
};

// A font of the given face and character height in pixels; a face that is missing is
// replaced by the platform's nearest sans-serif face.
QFont DesignFont(const QString& face, int pixelHeight);

} // namespace zentrop
