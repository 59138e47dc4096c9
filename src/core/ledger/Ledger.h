#pragma once

#include "core/ledger/Sqlite.h"
#include "core/ledger/StoredRecord.h"
#include "core/model/RateLimit.h"
#include "core/model/UsageRecord.h"
#include "core/model/UsageSource.h"
#include "core/sources/IncrementalScan.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fernhollow {

// How a sighting of a record already in the ledger is taken.
enum class RecordRule {
    // Agents stream a reply as copies that grow; the copy with the most tokens stands, and a
    // log rewritten without a record leaves it counted.
    keepLarger,
    // What was read again replaces what was kept: a refetched OpenAI bucket, a forced rescan.
    replace,
};

// One pass's changes to one source, written whole or not at all.
struct LedgerBatch {
    UsageSource source = UsageSource::claudeCode;
    RecordRule rule = RecordRule::keepLarger;
    std::vector<UsageRecord> records;
    std::vector<std::pair<std::string, LogFileState>> files;
    std::vector<std::string> goneFiles;
};

// Token sums of one source, model and price class over all of history.
struct ModelTotal {
    UsageSource source = UsageSource::claudeCode;
    UsageRecord sums; // the model, the price class and the five counts; no time, project or session
    std::int64_t records = 0;
    std::int64_t device = 0; // whose records, where the sums are taken by machine
};

// Records another machine shared, or this one's own shared file read back, and how far its
// file was read: all merged whole or not at all.
struct SharedBatch {
    std::int64_t device = 0; // a row of `devices()`, or 0 for this machine
    std::vector<std::string> names;
    // The records block by block as the file holds them; model, project and session as indexes into
    // `names`.
    std::vector<StoredRecords> blocks;
    std::string path;
    LogFileState file;
    double lastSeen = 0.0; // when the machine wrote what was read, by its own clock
};

// A machine known from the shared folder.
struct Device {
    std::int64_t id = 0;
    std::string uuid;
    std::string host;
    double lastSeen = 0.0;
    bool fileFound = false; // whether a file of it was in the folder at the last pass
};

// What this machine last wrote of its own shared file, so the next write can tell whether the
// file is still as it left it.
struct OwnShare {
    std::string path;
    std::uint64_t size = 0;
    double mtime = 0.0;
    std::int64_t blocks = 0;
};

// Records of this machine to share, with their names by index into `names`.
struct ShareExport {
    std::vector<std::string> names;
    std::vector<StoredRecord> records;
};

// Which records a query takes: those in [from, to), of the sources named (all when none is)
// and, when named, of one session.
struct RecordFilter {
    double from = -1e15;
    double to = 1e15;
    std::vector<UsageSource> sources;
    std::optional<std::string> session;
};

// The sums of one session's records of one model and price class.
struct SessionTotal {
    UsageSource source = UsageSource::claudeCode;
    UsageRecord sums;  // the model, project, session, price class and counts; stamped with its first record
    double last = 0.0; // the time of its last record
    std::int64_t records = 0;
};

// The usage ledger: every record ever counted, in one SQLite file, with quarter-hour totals
// kept in step with the records so that figures never walk all of them. Records are never
// removed but by `forget` and `forgetDevice`. Every figure counts the machines of the device
// scope. One object is one connection: use it on one thread; other threads and processes open
// their own.
class Ledger {
public:
    static constexpr std::int64_t schemaVersion = 6; // the number of migration steps
    static constexpr std::string_view fileName = "ledger.sqlite3";

    // Opens the ledger at `path`, creating it owner-only, or bringing an older schema up to
    // date. Throws sqlite::Error; `isDamage()` tells a file that is not a sound ledger.
    explicit Ledger(const std::filesystem::path& path);

    LogFileStates fileStates(UsageSource source);
    // Takes the batch whole: its records are let go once converted, before the writing, whose
    // cache is a first pass's largest use of memory.
    void apply(LedgerBatch batch);
    // As `apply`, for a pass whose records come while its logs are read: `read` runs on this
    // thread, hands each log's records to the sink it is given in log order, written a few
    // thousand at a time as they come, and leaves in `batch` the rest of the pass, written last.
    // The pass is one transaction, begun at its first write.
    void applyAsRead(LedgerBatch batch,
                     const std::function<void(const RecordSink&, LedgerBatch& batch)>& read);
    // Every log is read whole at the next pass; the records stay.
    void forgetFileStates();
    // Empties the ledger: records, totals, log states.
    void forget();

    // History at or after `from`: each whole quarter-hour that no cut falls strictly inside
    // comes as one record per source, model, project and price class, stamped with the quarter's start,
    // holding its sums; the records of the quarter-hours that a cut splits come one by one.
    // A window that starts or ends at any of `cuts` can thus be summed exactly.
    // Only the sources named count, or all when none is. Each comes to `visit` in turn, the
    // whole quarters first in time order, and lives only for the call: years of history are
    // summed without being held.
    void visitHistorySince(double from, std::span<const double> cuts, std::span<const UsageSource> sources,
                           const std::function<void(const UsageRecord&)>& visit);
    // Every record of the sessions of `source` with a record at or after `since`, oldest first.
    std::vector<UsageRecord> sessionsActiveSince(UsageSource source, double since);
    std::vector<ModelTotal> modelTotals();
    std::map<UsageSource, std::int64_t> recordCounts();
    // How many of this machine's records belong to these sessions, of whichever source.
    std::int64_t recordCountOfSessions(const std::set<std::string>& sessions);

    // The records the filter takes, oldest first.
    std::vector<UsageRecord> records(const RecordFilter& filter);
    // The records the filter takes, summed by source, session, project, model and price class.
    std::vector<SessionTotal> sessionTotals(const RecordFilter& filter);
    // What the last pass that read the log at `path` saw of it, if one did.
    std::optional<LogFileState> fileState(UsageSource source, const std::string& path);
    // The sums of the records at or after `from` by source, model, price class and machine, from
    // the quarter-hour totals and the records of the quarter that `from` splits.
    std::vector<ModelTotal> modelTotalsSince(double from);
    // Those of `records`, sighted in `source`, that are not counted yet: no copy of them lies in
    // the hour around them.
    std::vector<UsageRecord> uncounted(UsageSource source, std::vector<UsageRecord> records);

    // Keeps each limit unless a later sighting of the same agent's window is kept already.
    void recordRateLimits(std::span<const RateLimit> limits);
    std::vector<RateLimit> rateLimits();

    // How long a write waits for another connection's write to end before it fails.
    void setLockWait(int milliseconds);

    // Reads pages through a mapping of the file rather than into copies: for a reader that starts
    // afresh, as the status line does on every message, each copy costs a fresh page of memory.
    void readThroughMemoryMap();

    // Which machines the figures count: one device (0 for this machine), or all when none.
    void setDeviceScope(std::optional<std::int64_t> device) { deviceScope_ = device; }
    std::optional<std::int64_t> deviceScope() const { return deviceScope_; }
    // The row of the machine with this id, made when first seen; its name follows its file.
    std::int64_t deviceRow(const std::string& uuid, const std::string& host);
    std::vector<Device> devices();
    // Takes a machine's records out of every figure, once the user confirms it is gone. Every
    // shared file is read whole again at the next pass, so a record another machine shares too
    // comes back as that machine's.
    void forgetDevice(std::int64_t device);
    LogFileStates sharedFileStates();
    // Merges the batches `next` gives until it gives none, all in one transaction. A record another
    // machine holds too stays the machine's that brought it first, larger copy wins; one that this
    // machine's logs hold is this machine's.
    void mergeShared(const std::function<std::optional<SharedBatch>()>& next);
    // Forgets the shared files that are no longer in the folder.
    void dropSharedFiles(std::span<const std::string> paths);

    // While sharing, every record this machine's passes write waits in a queue for the next write
    // of its file. None: not sharing.
    std::optional<OwnShare> ownShare();
    // Starts or goes on sharing: what the file now holds. Every record waiting that `shared` holds
    // leaves the queue.
    void setOwnShare(const OwnShare& share, std::span<const StoredRecord> shared);
    void stopSharing();
    // Every record of this machine (`all`), or those waiting to be shared.
    ShareExport recordsToShare(bool all);

private:
    std::int64_t userVersion();
    std::int64_t nameId(const InternedString& text);
    // Appends the records, sighted in `source`, as rows.
    void appendStored(std::vector<StoredRecord>& stored, UsageSource source,
                      std::span<const UsageRecord> records);
    // Writes rows of records sighted in this machine's logs, settled among themselves first (`stored`
    // is left one per identity, in identity order), within the caller's transaction.
    void putSighted(std::vector<StoredRecord>& stored, RecordRule rule);
    // What the batch says of its logs, within the caller's transaction.
    void putFileStates(const LedgerBatch& batch);
    const InternedString& nameOf(std::int64_t id);
    UsageRecord recordFromRow(sqlite::Statement& row, int firstCount, double timestamp);
    std::optional<std::string> filterSql(const RecordFilter& filter);
    // The records of rows of at, model, project, session and the counts.
    std::vector<UsageRecord> recordsOf(sqlite::Statement& select);
    // Writes the records by `rule` into this machine's, within the caller's transaction, keeping the
    // totals in step. Records `sighted` in this machine's logs wait to be shared; those merged from
    // shared files are there already.
    void put(std::span<const StoredRecord> records, RecordRule rule, bool sighted);
    // This machine's logs make a record this machine's: the copies other machines brought of
    // `records` (this machine's, in identity order) join this machine's records, for `put` to
    // weigh against the copies sighted.
    void claimFromOtherMachines(std::span<const StoredRecord> records, bool sighted);
    // How many records of this machine the ledger holds, from the totals kept beside them rather
    // than a walk of them.
    std::size_t recordsHeld();
    // Drops the records' indexes when `incoming` records (50,000 or more) are written into a ledger
    // that held at most half as many before its transaction began: built again at once after them,
    // they cost less than grown a record at a time at random. Gives whether they were dropped, to be
    // built again by the caller.
    bool setRecordIndexesAsideFor(std::size_t incoming, std::size_t held);
    // The batch's blocks with the ledger's name ids and its machine; notes how far its file was read.
    std::vector<StoredRecords> takeBatch(SharedBatch batch);
    // Other machines' records, of one or more files' blocks in the order they came: a record this machine
    // holds stays this machine's, one another machine brought first stays that machine's, and
    // the larger copy's counts stand.
    void mergeOtherMachines(std::vector<StoredRecords> parts);
    // " AND device = …" for the scope, or nothing.
    std::string deviceSql() const;

    sqlite::Database db_;
    std::optional<sqlite::Statement> addName_;  // a new name's row, giving its id
    std::optional<sqlite::Statement> findName_; // a name's id
    std::unordered_map<const void*, std::int64_t> idsByName_;
    std::unordered_map<std::int64_t, InternedString> namesById_;
    std::optional<std::int64_t> deviceScope_;
};

// Moves a damaged ledger and its journal files aside, under a name that says so; returns the
// text that tells the user where they went.
std::string setLedgerAside(const std::filesystem::path& path);

// Opens the ledger at `path`; a file that is not a sound ledger is moved aside (with its
// journal files) under a name that says so, and a new one is made in its place, to be filled
// from the logs. `notice` then tells the user where the old one went.
std::unique_ptr<Ledger> openLedgerOrRebuild(const std::filesystem::path& path, std::string& notice);

} // namespace fernhollow
