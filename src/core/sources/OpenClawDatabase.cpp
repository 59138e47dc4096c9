#include "core/sources/OpenClawDatabase.h"

#include "core/common/RegularFile.h"
#include "core/common/Zstd.h"
#include "core/ledger/Sqlite.h"
#include "core/sources/JsonlRecordReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

namespace fernhollow {
namespace {

constexpr std::string_view sessionTag = "#session:";
constexpr std::string_view archiveTag = "#archive:";

std::string sessionKey(std::string_view path, std::string_view session) {
    return std::string(path) + std::string(sessionTag) + std::string(session);
}

std::string archiveKey(std::string_view path, std::string_view session, std::int64_t generation) {
    return std::string(path) + std::string(archiveTag) + std::to_string(generation) + ":" +
           std::string(session);
}

// The database's stamp: its own size and time, and its write-ahead log's, which every commit
// of the gateway changes until a checkpoint moves the pages into the database itself. An
// empty log holds nothing: a reader may be the one that made it.
LogFileState stampOf(const std::string& path, double mtime, std::uint64_t size) {
    LogFileState stamp{size, mtime, 0, 0};
    struct stat wal {};
    if (::stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0) {
        stamp.readEnd = static_cast<std::uint64_t>(wal.st_size);
        stamp.windowHash = std::bit_cast<std::uint64_t>(modificationTime(wal));
    }
    return stamp;
}

// Column name -> its place in the primary key (0 when not in it); empty for a missing table.
std::map<std::string, std::int64_t, std::less<>> columnsOf(sqlite::Database& db, std::string_view table) {
    std::map<std::string, std::int64_t, std::less<>> columns;
    auto info = db.prepare("SELECT name, pk FROM pragma_table_info(?1)");
    info.bind(1, table);
    while (info.step()) {
        columns.emplace(info.text(0), info.integer(1));
    }
    return columns;
}

// Sequence numbers are stored one past the last read, so that a session read up to seq 0
// differs from one never read.
std::uint64_t readEndAfter(std::int64_t seq) {
    return static_cast<std::uint64_t>(seq) + 1;
}

class DatabaseReader {
public:
    DatabaseReader(sqlite::Database& db, const std::string& path, const InternedString& project,
                   const LineRecordReader& readLine, ScanResult& result)
        : db_(db), path_(path), project_(project), readLine_(readLine), result_(result) {}

    // False when the tables are not the known ones.
    bool recognise() {
        const auto events = columnsOf(db_, "transcript_events");
        const bool hasJson = events.contains("event_json");
        const bool hasZstd = events.contains("event_zstd");
        if (!events.contains("session_id") || !events.contains("seq") || (!hasJson && !hasZstd)) {
            return false;
        }
        eventColumns_ =
            std::string(hasJson ? "event_json" : "NULL") + ", " + (hasZstd ? "event_zstd" : "NULL");
        // Listing sessions by seeking is cheap only where the key starts with the session.
        sessionsIndexed_ = events.find("session_id")->second == 1;
        const auto archives = columnsOf(db_, "session_transcript_archives");
        if (!archives.empty() && (!archives.contains("session_id") || !archives.contains("generation") ||
                                  !archives.contains("archive_blob"))) {
            return false;
        }
        readArchives_ = !archives.empty();
        const auto windows = columnsOf(db_, "session_windows");
        windowModels_ = windows.contains("session_id") && windows.contains("model");
        windowProviders_ = windowModels_ && windows.contains("model_provider");
        return true;
    }

    void readEvents(const LogFileStates& known, bool whole) {
        if (whole) {
            // A sweep of the whole file reads faster through a mapping than page by page.
            db_.execute("PRAGMA mmap_size = 4294967296");
            auto all = db_.prepare("SELECT session_id, seq, " + eventColumns_ + " FROM transcript_events");
            // Rows come mostly in runs of one session: its read is looked up once a run.
            SessionRead* read = nullptr;
            while (all.step()) {
                if (read == nullptr || all.text(0) != read->file.sessionId.str()) {
                    read = &sessionRead(std::string(all.text(0)));
                }
                readEvent(all, *read);
            }
        } else {
            auto events =
                db_.prepare("SELECT session_id, seq, " + eventColumns_ +
                            " FROM transcript_events WHERE session_id = ?1 AND seq >= ?2 ORDER BY seq");
            for (const auto& [session, lastSeq] : sessionsWithLastSeq()) {
                std::string key = sessionKey(path_, session);
                const auto it = known.find(key);
                listedKeys_.insert(std::move(key));
                const std::int64_t from = it != known.end() ? static_cast<std::int64_t>(it->second.readEnd)
                                                            : std::numeric_limits<std::int64_t>::min();
                if (lastSeq < from) {
                    continue;
                }
                SessionRead& read = sessionRead(session);
                read.lastSeq = lastSeq;
                events.bind(1, std::string_view(session)).bind(2, from);
                while (events.step()) {
                    readEvent(events, read);
                }
            }
        }
        for (auto& [session, read] : sessions_) {
            collapseStreamedCopies(read.records);
            takeModelFallback(session, read.records);
            std::move(read.records.begin(), read.records.end(), std::back_inserter(result_.records));
            listedKeys_.insert(sessionKey(path_, session));
            const auto it = known.find(sessionKey(path_, session));
            const LogFileState state{0, 0.0, readEndAfter(read.lastSeq), 0};
            if (it == known.end() || it->second != state) {
                result_.files.emplace_back(sessionKey(path_, session), state);
            }
        }
    }

    void readArchives(const LogFileStates& known, bool whole) {
        if (!readArchives_) {
            return;
        }
        auto list = db_.prepare("SELECT session_id, generation FROM session_transcript_archives");
        auto blob = db_.prepare(
            "SELECT archive_blob FROM session_transcript_archives WHERE session_id = ?1 AND generation = ?2");
        LineParsers parsers;
        while (list.step()) {
            const std::string session(list.text(0));
            const std::int64_t generation = list.integer(1);
            std::string key = archiveKey(path_, session, generation);
            listedKeys_.insert(key);
            if (!whole && known.contains(key)) {
                continue;
            }
            blob.bind(1, std::string_view(session)).bind(2, generation);
            if (blob.step()) {
                std::vector<UsageRecord> records = readArchive(blob.blob(0), session, parsers);
                takeModelFallback(session, records);
                std::move(records.begin(), records.end(), std::back_inserter(result_.records));
                blob.run();
            }
            result_.files.emplace_back(std::move(key), LogFileState{0, 0.0, 1, 0});
        }
    }

    // The keys of this database's sessions and archives that are no longer in it.
    void reportGone(const LogFileStates& known) {
        for (const auto& [key, state] : known) {
            const std::string_view rest = std::string_view(key).substr(std::min(key.size(), path_.size()));
            if (key.starts_with(path_) && (rest.starts_with(sessionTag) || rest.starts_with(archiveTag)) &&
                !listedKeys_.contains(key)) {
                result_.goneFiles.push_back(key);
            }
        }
    }

private:
    struct SessionRead {
        std::vector<UsageRecord> records;
        std::int64_t lastSeq = std::numeric_limits<std::int64_t>::min();
        LogFile file;
    };

    // Every session with its last sequence number. Along the key, each step one seek to the
    // last event of the session before, so a large database costs a step per session, not one
    // per event.
    std::vector<std::pair<std::string, std::int64_t>> sessionsWithLastSeq() {
        std::vector<std::pair<std::string, std::int64_t>> sessions;
        if (!sessionsIndexed_) {
            auto all = db_.prepare("SELECT session_id, max(seq) FROM transcript_events GROUP BY session_id");
            while (all.step()) {
                sessions.emplace_back(all.text(0), all.integer(1));
            }
            return sessions;
        }
        auto last = db_.prepare(
            "SELECT session_id, seq FROM transcript_events ORDER BY session_id DESC, seq DESC LIMIT 1");
        auto before = db_.prepare("SELECT session_id, seq FROM transcript_events WHERE session_id < ?1 "
                                  "ORDER BY session_id DESC, seq DESC LIMIT 1");
        for (sqlite::Statement* step = &last; step->step(); step = &before) {
            sessions.emplace_back(step->text(0), step->integer(1));
            step->run();
            before.bind(1, std::string_view(sessions.back().first));
        }
        return sessions;
    }

    SessionRead& sessionRead(const std::string& session) {
        const auto [it, added] = sessions_.try_emplace(session);
        if (added) {
            it->second.file = LogFile{path_, 0.0, 0, project_, InternedString(session)};
        }
        return it->second;
    }

    // Reads the row's event: its text, or else its compressed text.
    void readEvent(sqlite::Statement& row, SessionRead& read) {
        read.lastSeq = std::max(read.lastSeq, row.integer(1));
        if (!row.isNull(2)) {
            readEventText(row.text(2), read);
        } else if (!row.isNull(3)) {
            if (const auto text = decompressZstd(row.blob(3))) {
                readEventText(text->bytes(), read);
            }
        }
    }

    void readEventText(std::string_view text, SessionRead& read) {
        result_.bytesRead += text.size();
        readJsonlLine(text, read.file, parsers_, readLine_, read.records);
    }

    std::vector<UsageRecord> readArchive(std::string_view blob, const std::string& session,
                                         LineParsers& parsers) {
        const LogFile file{path_, 0.0, 0, project_, InternedString(session)};
        result_.bytesRead += blob.size();
        if (looksZstdCompressed(blob)) {
            const auto text = decompressZstd(blob);
            return text ? readJsonlText(text->bytes(), file, parsers, readLine_).records
                        : std::vector<UsageRecord>{};
        }
        std::string padded(blob);
        padded.append(simdjson::SIMDJSON_PADDING, '\0');
        return readJsonlText(std::string_view(padded).substr(0, blob.size()), file, parsers, readLine_)
            .records;
    }

    // A line that names no model takes the session's current one, when the database knows it.
    void takeModelFallback(const std::string& session, std::vector<UsageRecord>& records) {
        if (!windowModels_ || std::none_of(records.begin(), records.end(),
                                           [](const UsageRecord& r) { return r.model == "unknown"; })) {
            return;
        }
        auto window =
            db_.prepare(std::string("SELECT model, ") + (windowProviders_ ? "model_provider" : "NULL") +
                        " FROM session_windows WHERE session_id = ?1 AND model IS NOT NULL LIMIT 1");
        window.bind(1, std::string_view(session));
        if (!window.step()) {
            return;
        }
        const std::string model(window.text(0));
        const std::string provider(window.text(1));
        window.run();
        const InternedString named(
            provider.empty() || model.starts_with(provider + "/") ? model : provider + "/" + model);
        for (UsageRecord& record : records) {
            if (record.model == "unknown") {
                record.model = named;
            }
        }
    }

    sqlite::Database& db_;
    const std::string& path_;
    const InternedString& project_;
    const LineRecordReader& readLine_;
    ScanResult& result_;
    LineParsers parsers_;
    std::string eventColumns_;
    bool sessionsIndexed_ = false;
    bool readArchives_ = false;
    bool windowModels_ = false;
    bool windowProviders_ = false;
    std::unordered_map<std::string, SessionRead> sessions_;
    std::set<std::string, std::less<>> listedKeys_;
};

} // namespace

bool isOpenClawDatabaseKey(std::string_view key, std::string_view path) {
    if (!key.starts_with(path)) {
        return false;
    }
    const std::string_view rest = key.substr(path.size());
    return rest.empty() || rest.starts_with(sessionTag) || rest.starts_with(archiveTag);
}

void scanOpenClawDatabase(const std::string& path, double mtime, std::uint64_t size,
                          const InternedString& project, const LogFileStates& known, bool wholeFiles,
                          const LineRecordReader& readLine, ScanResult& result) {
    const LogFileState stamp = stampOf(path, mtime, size);
    const auto knownStamp = known.find(path);
    if (!wholeFiles && knownStamp != known.end() && knownStamp->second == stamp) {
        return;
    }
    try {
        sqlite::Database db(path, sqlite::Database::Mode::readOnly);
        DatabaseReader reader(db, path, project, readLine, result);
        // One read transaction: the listing and the events it leads to are one snapshot.
        db.execute("BEGIN");
        if (!reader.recognise()) {
            result.problems.emplace_back(openClawFormatNotRecognised);
            return;
        }
        // A database never read before is read in one sweep of its table.
        const bool whole = wholeFiles || knownStamp == known.end();
        reader.readEvents(known, whole);
        reader.readArchives(known, whole);
        db.execute("COMMIT");
        reader.reportGone(known);
        result.files.emplace_back(path, stamp);
    } catch (const sqlite::Error& error) {
        result.problems.push_back("OpenClaw database could not be read: " + std::string(error.what()));
    }
}

} // namespace fernhollow
