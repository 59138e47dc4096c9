#include "sources/IncrementalScan.h"

#include "common/Parallel.h"
#include "model/Clock.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_set>
#include <utility>

namespace fernhollow {
namespace {

// How far apart two writes to a file may be and still bear the same time: file systems stamp
// times in clock ticks, some in whole seconds, FAT in two.
constexpr double coarsestTimeStep = 2.0;

using IndexRange = std::pair<std::size_t, std::size_t>;

struct RecordRun {
    const std::string* key; // points into PriorGroups::ranges, whose nodes never move
    IndexRange range;
};

// Prior records grouped by file key. Scans return each file's records together, so the
// grouping works on runs and builds one key per run, not one per record.
struct PriorGroups {
    std::unordered_map<std::string, std::vector<IndexRange>> ranges;
    std::vector<RecordRun> runs; // in prior order
};

PriorGroups groupByKey(const std::vector<UsageRecord>& records) {
    PriorGroups groups;
    for (std::size_t begin = 0; begin < records.size();) {
        const UsageRecord& first = records[begin];
        std::size_t end = begin + 1;
        while (end < records.size() && records[end].sessionId == first.sessionId &&
               records[end].projectPath == first.projectPath) {
            ++end;
        }
        const auto it = groups.ranges.try_emplace(fileKey(first.projectPath, first.sessionId)).first;
        it->second.emplace_back(begin, end);
        groups.runs.push_back({&it->first, {begin, end}});
        begin = end;
    }
    return groups;
}

std::vector<std::vector<UsageRecord>> readInParallel(const std::vector<const LogFile*>& files,
                                                     const LogFileReader& read, ScanProgress* progress) {
    std::vector<std::vector<UsageRecord>> results(files.size());
    // Largest first, so one big file read last does not leave the other cores idle.
    std::vector<std::size_t> order(files.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return files[a]->size > files[b]->size; });
    parallelFor<simdjson::dom::parser>(order.size(), threadsFor(order.size(), 1),
                                       [&](simdjson::dom::parser& parser, std::size_t k) {
                                           results[order[k]] = read(*files[order[k]], parser);
                                           if (progress != nullptr) {
                                               ++progress->filesRead;
                                           }
                                       });
    return results;
}

} // namespace

std::string fileKey(std::string_view projectPath, std::string_view sessionId) {
    std::string key;
    key.reserve(projectPath.size() + sessionId.size() + 7);
    key.append(projectPath).append("/").append(sessionId).append(".jsonl");
    return key;
}

ScanResult scanIncrementally(const std::vector<LogFile>& files, const FileTimes& knownMtimes,
                             std::vector<UsageRecord> priorRecords, const LogFileReader& read,
                             ScanProgress* progress) {
    // A write can land after the reads below and still bear the time the walk saw: times move
    // in steps, and a write takes its time before its bytes land. So a file stamped within a
    // step of now is timed as unread, and the next scan reads it again.
    const double now = Clock::system().now();
    const auto settledTime = [now](double mtime) {
        return std::abs(mtime - now) < coarsestTimeStep ? 0.0 : mtime;
    };
    ScanResult result;
    result.updatedMtimes.reserve(files.size());
    std::vector<bool> changed(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const LogFile& file = files[i];
        result.updatedMtimes[file.path] = settledTime(file.mtime);
        const auto known = knownMtimes.find(file.path);
        changed[i] = known != knownMtimes.end() ? file.mtime > known->second : file.mtime > 0.0;
    }
    // With no file changed, reading again the files that gave no records (summaries only,
    // or replies all counted from another file) would give nothing again: their content and
    // the ids that hid them are as they were. So an idle scan opens no file at all.
    if (std::find(changed.begin(), changed.end(), true) == changed.end()) {
        result.records = std::move(priorRecords);
        return result;
    }

    const PriorGroups prior = groupByKey(priorRecords);
    std::vector<std::string> keys;
    keys.reserve(files.size());
    std::unordered_set<std::string_view> rereadKeys;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& key = keys.emplace_back(fileKey(files[i].projectPath, files[i].sessionId));
        // A file whose earlier read gave no records has no group: its copies may count now.
        if (changed[i] || !prior.ranges.contains(key)) {
            rereadKeys.insert(key);
        }
    }

    std::vector<std::size_t> toRead;
    std::vector<const LogFile*> filesToRead;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (rereadKeys.contains(keys[i])) {
            toRead.push_back(i);
            filesToRead.push_back(&files[i]);
        }
    }
    if (progress != nullptr) {
        progress->filesToRead += filesToRead.size();
    }
    std::vector<std::vector<UsageRecord>> fresh = readInParallel(filesToRead, read, progress);

    // Walk order decides which copy of a message counts. A re-read group first gives back
    // the ids it held, so its own messages are not dropped as copies of themselves.
    std::vector<std::vector<bool>> keep(fresh.size());
    {
        std::unordered_set<std::string_view> seen;
        seen.reserve(priorRecords.size() + filesToRead.size() * 64);
        for (const UsageRecord& record : priorRecords) {
            if (!record.messageId.empty()) {
                seen.insert(record.messageId);
            }
        }
        std::unordered_set<std::string_view> released;
        for (std::size_t k = 0; k < toRead.size(); ++k) {
            const std::string& key = keys[toRead[k]];
            if (released.insert(key).second) {
                if (const auto group = prior.ranges.find(key); group != prior.ranges.end()) {
                    for (const auto& [begin, end] : group->second) {
                        for (std::size_t i = begin; i < end; ++i) {
                            seen.erase(priorRecords[i].messageId);
                        }
                    }
                }
            }
            keep[k].resize(fresh[k].size());
            for (std::size_t j = 0; j < fresh[k].size(); ++j) {
                const std::string& messageId = fresh[k][j].messageId;
                keep[k][j] = messageId.empty() || seen.insert(messageId).second;
            }
        }
    }

    std::size_t total = 0;
    for (const auto& run : prior.runs) {
        if (!rereadKeys.contains(*run.key)) {
            total += run.range.second - run.range.first;
        } else {
            result.recordsReread = true;
        }
    }
    for (const auto& flags : keep) {
        const auto kept = static_cast<std::size_t>(std::count(flags.begin(), flags.end(), true));
        total += kept;
        result.recordsReread = result.recordsReread || kept > 0;
    }
    result.records.reserve(total);
    for (const auto& run : prior.runs) {
        if (!rereadKeys.contains(*run.key)) {
            std::move(priorRecords.begin() + static_cast<std::ptrdiff_t>(run.range.first),
                      priorRecords.begin() + static_cast<std::ptrdiff_t>(run.range.second),
                      std::back_inserter(result.records));
        }
    }
    for (std::size_t k = 0; k < fresh.size(); ++k) {
        for (std::size_t j = 0; j < fresh[k].size(); ++j) {
            if (keep[k][j]) {
                result.records.push_back(std::move(fresh[k][j]));
            }
        }
    }
    return result;
}

} // namespace fernhollow
