// Colour values of the settings file as Qt colours, and twips as pixels.
#pragma once

#include <QColor>

#include <cstdint>

class QWidget;

namespace quellin::syslogd {

// A stored colour: 0x00BBGGRR, or 0x80000000 plus a system colour index,
// which maps to the matching role of the application palette.
QColor ColorFromSetting(std::int32_t value);

// Twips (1/1440 inch) as pixels on the widget's screen.
int TwipsToPixels(const QWidget* widget, int twips);

}  // namespace quellin::syslogd
