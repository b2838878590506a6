#pragma once

#include <QIcon>

// Icons from the desktop's icon theme, with drawn stand-ins where the theme
// has none (a bare server, the offscreen platform), so no button is ever blank.
namespace Icons {

// A pair of headphones; `colour` tints the drawn stand-in.
QIcon headphones(const QColor& colour);
// A filled circle, as on a recorder's record key.
QIcon recordDot(const QColor& colour);

}  // namespace Icons
