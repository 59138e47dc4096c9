#pragma once

#include "core/texts/PanelTexts.h"

#include <QColor>
#include <QString>

namespace fernhollow {

// The colours the panel and the tray give the status tints. `primary` is the text colour of
// the surface the symbol sits on, which the caller knows and we do not.
QColor tintColor(PanelTexts::Tint tint, const QColor& primary);

} // namespace fernhollow
