#pragma once
// The window's background light under everything else on its surface: a warm glow below the
// header and a faint field of dots that fades towards the edges. Both are so faint that an 8-bit
// surface has only a handful of steps for them, and a canvas rounds each colour channel of each
// step on its own, so every step showed as a ring. Here each pixel is computed exactly and then
// rounded up or down by a fixed 4 x 4 pattern, which turns the steps into an even grain. Painted
// only when the size, the connection, the theme or the corners change.

#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqml.h>

class AmbienceLight : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool connected READ connected WRITE setConnected NOTIFY connectedChanged)
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY darkChanged)
    Q_PROPERTY(int cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)
    // The light starts below the header.
    Q_PROPERTY(int headerHeight READ headerHeight WRITE setHeaderHeight NOTIFY headerHeightChanged)

public:
    explicit AmbienceLight(QQuickItem* parent = nullptr);

    bool connected() const { return connected_; }
    bool dark() const { return dark_; }
    int cornerRadius() const { return cornerRadius_; }
    int headerHeight() const { return headerHeight_; }
    void setConnected(bool connected);
    void setDark(bool dark);
    void setCornerRadius(int radius);
    void setHeaderHeight(int height);

    void paint(QPainter* painter) override;

signals:
    void connectedChanged();
    void darkChanged();
    void cornerRadiusChanged();
    void headerHeightChanged();

private:
    template <class Value>
    void change(Value& field, Value value, void (AmbienceLight::*changed)());
    QImage render(int width, int height) const;

    bool connected_ = false;
    bool dark_ = false;
    int cornerRadius_ = 22;
    int headerHeight_ = 58;
    QImage image_;  // the last picture; null once anything it shows has changed
};
