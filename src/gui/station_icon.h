// The station's icon, drawn for the window and the About box: a programmer pod with its ribbon
// to a chip. The same picture is installed as resources/korvan-nat.svg for the desktop.
#pragma once

#include <QIcon>

namespace korvan::gui {

QIcon StationIcon();

}  // namespace korvan::gui
