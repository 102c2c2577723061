#include "ambience_light.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

struct Light {
    double red, green, blue, alpha;
};

// A 4 x 4 ordered-dither pattern: each pixel's rounding threshold, in sixteenths.
constexpr int kThreshold[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

double distance(double x, double y) { return std::sqrt(x * x + y * y); }

// Whether the pixel's centre lies in the surface's rounded rectangle, inset by its 1 px border.
bool insideFrame(double x, double y, int width, int height, int cornerRadius) {
    const double radius = std::clamp(cornerRadius - 1.0, 0.0, std::min(width - 2, height - 2) / 2.0);
    if (x < 1 || y < 1 || x > width - 1 || y > height - 1) return false;
    const double nearestX = std::clamp(x, 1 + radius, width - 1 - radius);
    const double nearestY = std::clamp(y, 1 + radius, height - 1 - radius);
    return distance(x - nearestX, y - nearestY) <= radius;
}

}  // namespace

AmbienceLight::AmbienceLight(QQuickItem* parent) : QQuickPaintedItem(parent) {
    connect(this, &QQuickItem::widthChanged, this, [this] { image_ = QImage(); });
    connect(this, &QQuickItem::heightChanged, this, [this] { image_ = QImage(); });
}

template <class Value>
void AmbienceLight::change(Value& field, Value value, void (AmbienceLight::*changed)()) {
    if (field == value) return;
    field = value;
    image_ = QImage();
    update();
    emit(this->*changed)();
}

void AmbienceLight::setConnected(bool connected) { change(connected_, connected, &AmbienceLight::connectedChanged); }
void AmbienceLight::setDark(bool dark) { change(dark_, dark, &AmbienceLight::darkChanged); }
void AmbienceLight::setCornerRadius(int radius) { change(cornerRadius_, radius, &AmbienceLight::cornerRadiusChanged); }
void AmbienceLight::setHeaderHeight(int height) { change(headerHeight_, height, &AmbienceLight::headerHeightChanged); }

void AmbienceLight::paint(QPainter* painter) {
    const int width = static_cast<int>(std::ceil(this->width()));
    const int height = static_cast<int>(std::ceil(this->height()));
    if (image_.isNull()) image_ = render(width, height);
    painter->drawImage(QPointF(0, 0), image_);
}

// The glow: a radial fade from the middle; the dots: 0.72 px squares every 5 px, each covering
// that share of its pixel. Both in premultiplied light, dots over glow.
QImage AmbienceLight::render(int width, int height) const {
    QImage image(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const Light glow = dark_ ? (connected_ ? Light{255, 226, 128, 0.075} : Light{255, 224, 121, 0.040})
                             : (connected_ ? Light{255, 220, 102, 0.130} : Light{255, 221, 111, 0.055});
    const double glowX = width * 0.5, glowY = height * (connected_ ? 0.44 : 0.52);
    const double glowRadius = std::min(width, height) * (connected_ ? 0.42 : 0.36);
    const Light dot = dark_ ? Light{241, 240, 232, 0} : Light{30, 35, 42, 0};
    const double dotStrength = (connected_ ? 0.009 : 0.048) * 0.72 * 0.72;
    const double dotsX = width * 0.5, dotsY = height * 0.48;
    const double dotsRadius = std::min(width, height) * 0.64;

    for (int y = std::max(0, headerHeight_); y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const bool dotRow = y >= headerHeight_ + 2 && y < height - 2 && (y - headerHeight_ - 2) % 5 == 0;
        for (int x = 0; x < width; ++x) {
            if (!insideFrame(x + 0.5, y + 0.5, width, height, cornerRadius_)) continue;
            const double fade = glowRadius > 0 ? std::max(0.0, 1 - distance(x + 0.5 - glowX, y + 0.5 - glowY) / glowRadius) : 0;
            double alpha = glow.alpha * fade;
            double red = glow.red * alpha, green = glow.green * alpha, blue = glow.blue * alpha;
            if (dotRow && x >= 2 && x < width - 2 && (x - 2) % 5 == 0) {
                const double falloff = std::max(0.0, 1 - distance(x - dotsX, y - dotsY) / dotsRadius);
                const double cover = dotStrength * falloff * falloff;
                red = dot.red * cover + red * (1 - cover);
                green = dot.green * cover + green * (1 - cover);
                blue = dot.blue * cover + blue * (1 - cover);
                alpha = cover + alpha * (1 - cover);
            }
            const double threshold = (kThreshold[y % 4][x % 4] + 0.5) / 16;
            const auto step = [threshold](double value) { return static_cast<int>(std::floor(value + threshold)); };
            line[x] = qRgba(step(red), step(green), step(blue), step(alpha * 255));
        }
    }
    return image;
}
