#pragma once

#include <string>

namespace fernhollow {

// What one budget notification says, and whether it asks for the desktop's default sound.
struct AlertText {
    std::string title;
    std::string body;
    bool sound = false;

    friend bool operator==(const AlertText&, const AlertText&) = default;
};

// The words of the budget alerts. Dollars are written as printf's "%.2f" would in the C
// locale, whatever locale the app runs under; `pct` is spend / budget as a fraction, shown
// as its whole percent cut toward zero.
namespace AlertTexts {

AlertText warn(double spent, double budget, double pct);
AlertText critical(double spent, double budget, double pct);
AlertText emergency(double spent, double budget);
AlertText test();

} // namespace AlertTexts
} // namespace fernhollow
