#include "StatusColors.h"

#include <QPalette>

#include <cmath>

namespace StatusColors {

namespace {

QColor baseHue(Status status)
{
    switch (status) {
    case Status::success:
        return {0x34, 0xc7, 0x59};
    case Status::failure:
        return {0xff, 0x3b, 0x30};
    case Status::warning:
        return {0xff, 0x95, 0x00};
    case Status::off:
        return {0x8e, 0x8e, 0x93};
    }
    return {};
}

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

} // namespace

double luminance(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

double contrastRatio(const QColor& first, const QColor& second)
{
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor readableOn(const QColor& color, const QColor& background, double minimum)
{
    if (contrastRatio(color, background) >= minimum)
        return color;
    // Darker on a light background, lighter on a dark one; the side with more room wins when
    // the background is in the middle.
    const bool darken =
        contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background);
    const QColor hsl = color.toHsl();
    const float hue = hsl.hslHueF();
    const float saturation = hsl.hslSaturationF();
    float lightness = hsl.lightnessF();
    QColor candidate = color;
    // Steps of 1% lightness: at most a hundred tries, and the end point (black or white)
    // always has the best contrast there is.
    for (int step = 0; step < 100; ++step) {
        lightness = darken ? std::max(0.0f, lightness - 0.01f) : std::min(1.0f, lightness + 0.01f);
        candidate = QColor::fromHslF(hue, saturation, lightness).toRgb();
        if (contrastRatio(candidate, background) >= minimum)
            return candidate;
    }
    return candidate;
}

QColor text(Status status, const QColor& background)
{
    return readableOn(baseHue(status), background, textContrast);
}

QColor text(Status status, const QPalette& palette)
{
    return text(status, palette.color(QPalette::Window));
}

QColor symbol(Status status, const QColor& background)
{
    return readableOn(baseHue(status), background, symbolContrast);
}

QColor symbol(Status status, const QPalette& palette)
{
    return symbol(status, palette.color(QPalette::Window));
}

QColor secondaryText(const QColor& textColor, const QColor& background)
{
    // Start from the text colour at 45% over the background and move back towards the text
    // colour until it reads.
    for (int percent = 55; percent <= 100; percent += 5) {
        const double share = percent / 100.0;
        const QColor mixed =
            QColor::fromRgbF(float(textColor.redF() * share + background.redF() * (1 - share)),
                             float(textColor.greenF() * share + background.greenF() * (1 - share)),
                             float(textColor.blueF() * share + background.blueF() * (1 - share)));
        if (contrastRatio(mixed, background) >= textContrast)
            return mixed;
    }
    return textColor;
}

QPalette readablePalette(QPalette palette)
{
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor window = palette.color(group, QPalette::Window);
        const QColor base = palette.color(group, QPalette::Base);
        // A translucent placeholder is seen over the window: judge the colour it shows.
        QColor placeholder = palette.color(group, QPalette::PlaceholderText);
        const float alpha = placeholder.alphaF();
        placeholder = QColor::fromRgbF(placeholder.redF() * alpha + window.redF() * (1 - alpha),
                                       placeholder.greenF() * alpha + window.greenF() * (1 - alpha),
                                       placeholder.blueF() * alpha + window.blueF() * (1 - alpha));
        // The harder of the two backgrounds decides.
        const QColor harder =
            contrastRatio(placeholder, window) < contrastRatio(placeholder, base) ? window : base;
        palette.setColor(group, QPalette::PlaceholderText,
                         readableOn(placeholder, harder, textContrast));
    }
    return palette;
}

} // namespace StatusColors
