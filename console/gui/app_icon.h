#pragma once

#include <QIcon>

namespace quellin::console {

// The console's window icon, drawn so that no image file has to ship.
QIcon AppIcon();

}  // namespace quellin::console
