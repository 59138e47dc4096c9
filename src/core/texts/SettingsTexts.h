#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reading and writing the settings window's fields.
namespace fernhollow::SettingsTexts {

// The budget typed into the field: "$" and "," are dropped and white space trimmed, the rest
// must be one whole number of at least one dollar ("1,500", "$ 250"). Anything else, an
// infinite value included, is no budget.
std::optional<double> parseBudget(std::string_view text);

// A budget as the field shows it: "500".
std::string budgetText(double budgetUSD);

// A threshold fraction as a whole percent cut toward zero: 0.7 is "70%". A value a step
// slider lands on just below a whole percent (0.57 is 56.999… in binary) still reads as that
// percent.
std::string thresholdPercent(double fraction);

// "Cache size on disk: 3.0 MB", in megabytes of 1,048,576 bytes.
std::string cacheSize(std::uint64_t bytes);

// The line under a machine's name in the shared folder's list: "This machine · $4.20 this month",
// "Last seen 12m ago · $4.20 this month", or for a machine whose file left the folder
// "File no longer in the folder · last seen 3d ago · $4.20 this month".
std::string machineDetail(bool thisMachine, bool fileFound, double lastSeen, double monthUSD, double now);

} // namespace fernhollow::SettingsTexts
