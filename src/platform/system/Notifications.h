#pragma once

#include <QCoroTask>
#include <QString>

// Desktop notifications for the budget alerts, posted through the freedesktop notification
// service on the session bus. A failure (no service, no bus, a server that does not answer
// within seconds) is dropped: every operation returns normally. Main thread only.
namespace fernhollow::Notifications {

// Posts one notification. A new one whose title equals an earlier one's takes its place on
// the screen while that one is still shown.
QCoro::Task<> fire(QString title, QString body, bool sound);

// `spent` and `budget` in dollars, `pct` the fraction spent / budget.
QCoro::Task<> fireWarn(double spent, double budget, double pct);
QCoro::Task<> fireCritical(double spent, double budget, double pct);
QCoro::Task<> fireEmergency(double spent, double budget);

// The one the settings window posts to show that notifications get through.
QCoro::Task<> fireTest();

} // namespace fernhollow::Notifications
