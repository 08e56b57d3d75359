#include "colors.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <QtMath>

namespace quellin::syslogd {
namespace {

// System colour indices as the settings file stores them.
QPalette::ColorRole SystemColorRole(std::uint32_t index) {
    switch (index) {
        case 4:   // menu
        case 15:  // button face
            return QPalette::Button;
        case 5:  // window background
            return QPalette::Base;
        case 7:  // menu text
            return QPalette::WindowText;
        case 8:  // window text
            return QPalette::Text;
        case 12:  // application workspace
        case 16:  // button shadow
            return QPalette::Mid;
        case 13:
            return QPalette::Highlight;
        case 14:
            return QPalette::HighlightedText;
        case 17:  // grey text
            return QPalette::PlaceholderText;
        case 18:
            return QPalette::ButtonText;
        case 20:
            return QPalette::Light;
        case 21:
            return QPalette::Shadow;
        case 22:
            return QPalette::Midlight;
        case 23:
            return QPalette::ToolTipText;
        case 24:
            return QPalette::ToolTipBase;
        default:
            return QPalette::Window;
    }
}

}  // namespace

QColor ColorFromSetting(std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    if ((bits & 0x80000000u) != 0)
        return QApplication::palette().color(SystemColorRole(bits & 0xFFu));
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

int TwipsToPixels(const QWidget* widget, int twips) {
    int dpi = widget != nullptr ? widget->logicalDpiX() : 96;
    if (dpi <= 0)
        dpi = 96;
    return qRound(twips * dpi / 1440.0);
}

}  // namespace quellin::syslogd
