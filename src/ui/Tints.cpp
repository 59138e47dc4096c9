#include "ui/Tints.h"

namespace fernhollow {

QColor tintColor(PanelTexts::Tint tint, const QColor& primary) {
    switch (tint) {
    case PanelTexts::Tint::green:
        return QColor(0x34, 0xc7, 0x59);
    case PanelTexts::Tint::yellow:
        return QColor(0xe6, 0xb4, 0x00);
    case PanelTexts::Tint::orange:
        return QColor(0xff, 0x8c, 0x00);
    case PanelTexts::Tint::red:
        return QColor(0xff, 0x3b, 0x30);
    case PanelTexts::Tint::primary:
        break;
    }
    return primary;
}

} // namespace fernhollow
