#include "core/figures/PlanWindows.h"

#include "core/model/ModelPricing.h"
#include "core/texts/PanelTexts.h"

namespace fernhollow::PlanWindows {

std::optional<Estimate> currentEstimate(Ledger& ledger, UsageSource agent, double now) {
    const std::vector<UsageRecord> recent =
        ledger.records({.from = now - 86'400.0, .to = now + 1.0, .sources = {agent}, .session = {}});
    const auto blocks = UsageBlocks::blocksOf(recent);
    if (blocks.empty()) {
        return std::nullopt;
    }
    const UsageBlocks::Block& last = blocks.back();
    const ModelPricing::Pricer pricer;
    double usd = 0.0;
    for (std::size_t i = last.first; i < last.first + last.count; ++i) {
        usd += pricer.cost(recent[i]);
    }
    const auto progress = UsageBlocks::progressOf(last, usd, now);
    return progress ? std::optional(Estimate{usd, *progress}) : std::nullopt;
}

std::vector<std::string> readingLines(const std::vector<RateLimit>& limits, double now,
                                      const LocalTime& localTime) {
    std::vector<std::string> out;
    for (const UsageSource agent : {UsageSource::claudeCode, UsageSource::codex}) {
        for (const RateWindow window : {RateWindow::fiveHour, RateWindow::weekly}) {
            if (const auto limit = UsageBlocks::freshLimit(limits, agent, window, now)) {
                const bool weekly = window == RateWindow::weekly;
                out.push_back(PanelTexts::rateLimitLine(
                    PanelTexts::agentName(agent), weekly, limit->usedPercent,
                    limit->resetsAt ? localTime(*limit->resetsAt, weekly) : std::string()));
            }
        }
    }
    return out;
}

std::vector<std::string> lines(Ledger& ledger, double now, const LocalTime& localTime) {
    const std::vector<RateLimit> limits = ledger.rateLimits();
    std::vector<std::string> out = readingLines(limits, now, localTime);
    if (!UsageBlocks::freshLimit(limits, UsageSource::claudeCode, RateWindow::fiveHour, now)) {
        if (const auto estimate = currentEstimate(ledger, UsageSource::claudeCode, now)) {
            out.insert(out.begin(), PanelTexts::windowEstimateLine(
                                        estimate->usd, estimate->progress.burnRatePerHour,
                                        estimate->progress.projectedUSD, estimate->progress.secondsLeft));
        }
    }
    return out;
}

} // namespace fernhollow::PlanWindows
