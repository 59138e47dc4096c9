// The tray app's life compressed: the live store refreshes every 100 ms for minutes while
// another process writes the logs it reads the way agents do: streamed copies of replies,
// lines in two pieces, new sessions, sub-agents, resumed sessions repeating earlier replies,
// and logs deleted once finished. At the end the ledger's record count and token sums must
// equal the writer's own account of what it wrote, its log states must name exactly the
// writer's files, each read to its end, and the store's memory must not have grown.

#include "BenchSupport.h"
#include "core/common/Folders.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "platform/store/UsageStore.h"
#include "platform/system/QtLocalCalendar.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <exception>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fernhollow::UsageSource;
using fernhollow::UsageStore;
using fernhollow::bench::TokenSums;
using Clock = std::chrono::steady_clock;

constexpr int defaultSeconds = 600;
constexpr int shortestSeconds = 20;
constexpr auto refreshInterval = std::chrono::milliseconds(100);
constexpr int sampleSeconds = 10;
// Memory is flat when, from the first minute to the end, resident memory grew by at most this
// share. The records live in the ledger, not in the store: what a pass reads is held only
// until its transaction commits, so nothing in memory grows with the history.
constexpr double allowedGrowth = 0.20;
// Passes that began before the writer stopped may still land after the final one.
constexpr auto settleTimeout = std::chrono::seconds(10);

// Full path of a log -> its content modification time, seconds since 1970.
using FileTimes = std::unordered_map<std::string, double>;

// Each file's time as the store's folder walk computes it, so the two compare exactly.
double mtimeSeconds(long long seconds, long long nanoseconds) {
    return static_cast<double>(seconds) + static_cast<double>(nanoseconds) / 1e9;
}

// The two processes talk in text lines over a pipe each way.
void sendLine(int fd, std::string line) {
    line.push_back('\n');
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t wrote = ::write(fd, line.data() + done, line.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return; // the other side has gone; its exit tells why
        }
        done += static_cast<std::size_t>(wrote);
    }
}

// Takes what has arrived on a non-blocking descriptor without waiting for more.
class LineReceiver {
public:
    explicit LineReceiver(int fd) : fd_(fd) {}

    // The complete lines received so far; `open` turns false once the other side closed.
    std::vector<std::string> receive() {
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0) {
                pending_.append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0) {
                open = false;
                break;
            } else if (errno != EINTR) {
                break;
            }
        }
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(pending_.substr(start, end - start));
        }
        pending_.erase(0, start);
        return lines;
    }

    bool open = true;

private:
    int fd_;
    std::string pending_;
};

// A number of messages and their token sums, as the writer and the store each count them.
struct Account {
    std::size_t messages = 0;
    TokenSums tokens;

    void add(const TokenSums& counts) {
        ++messages;
        tokens += counts;
    }
};

std::string formatAccount(const Account& account) {
    const TokenSums& t = account.tokens;
    std::ostringstream out;
    out << account.messages << ' ' << t.input << ' ' << t.output << ' ' << t.cacheCreation << ' '
        << t.cacheCreation1h << ' ' << t.cacheRead;
    return out.str();
}

bool parseAccount(std::istream& in, Account& account) {
    TokenSums& t = account.tokens;
    return static_cast<bool>(in >> account.messages >> t.input >> t.output >> t.cacheCreation >>
                             t.cacheCreation1h >> t.cacheRead);
}

// ---------------------------------------------------------------------------------------
// The writer: a process of its own that plays several agents at once.

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t next() { return engine_(); }
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(engine_() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool chance(double probability) { return static_cast<double>(engine_() >> 11) * 0x1.0p-53 < probability; }

private:
    std::mt19937_64 engine_;
};

// Escaped JSON string content, multi-byte characters among it, so a line cut at any byte may
// end inside an escape or inside a character.
constexpr std::string_view phrases[] = {"the parser reads each line of std::vector<UsageRecord>",
                                        "café naïve Grüße — 日本語 → ✓", "\\n\\t\\\"usage\\\": C:\\\\Users",
                                        "return {tokens, cache, write};", "npm run build && ctest passed"};

std::string filler(Random& random, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) {
        text += phrases[static_cast<std::size_t>(random.between(0, std::ssize(phrases) - 1))];
        text.push_back(' ');
    }
    return text;
}

std::string hex(std::uint64_t value, int digits) {
    static constexpr char digitChars[] = "0123456789abcdef";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = digitChars[value & 0xF];
    }
    return text;
}

std::string uuidText(Random& random) {
    const std::string a = hex(random.next(), 16);
    const std::string b = hex(random.next(), 16);
    return a.substr(0, 8) + "-" + a.substr(8, 4) + "-4" + a.substr(13, 3) + "-a" + b.substr(1, 3) + "-" +
           b.substr(4, 12);
}

std::string utcNow() {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(milliseconds % 1000));
    return text;
}

struct Line {
    std::string text;
    std::string messageId; // empty when the line counts nothing
    TokenSums tokens;      // this copy's counts
};

// A reply's streamed copies, the last one carrying the final counts.
using Reply = std::vector<Line>;

struct Log {
    enum class State { writing, finished, leaving, gone };

    fs::path path;
    std::string sessionId;
    std::size_t project = 0;
    bool agent = false;
    int fd = -1;
    State state = State::writing;
    int turnsLeft = 0;
    std::deque<Line> queue;       // what the agent has still to write
    std::size_t frontWritten = 0; // bytes of the queue's first line already in the file
    std::vector<Reply> recentReplies;
    // What the file holds now: each message's latest complete copy, which is its largest.
    std::unordered_map<std::string, TokenSums> messages;
};

class Writer {
public:
    Writer(fs::path root, std::uint64_t seed)
        : root_(std::move(root)), random_(seed), runTag_(hex(seed, 8)) {}

    // Writes until told to stop, then completes every line begun and leaves its account in
    // `truthPath`. Returns the process's exit code.
    int run(int controlFd, int reportFd, const fs::path& truthPath) {
        LineReceiver control(controlFd);
        for (;;) {
            pollfd wait{controlFd, POLLIN, 0};
            ::poll(&wait, 1, static_cast<int>(random_.between(1, 12)));
            bool stop = false;
            for (const std::string& message : control.receive()) {
                if (message == "stop") {
                    stop = true;
                } else if (message.starts_with("ack ")) {
                    remove(std::stoul(message.substr(4)));
                }
            }
            if (stop) {
                break;
            }
            if (!control.open) {
                return 1; // the soak has gone
            }
            step(reportFd);
        }
        completeBegunLines();
        return writeTruth(truthPath) ? 0 : 1;
    }

private:
    static constexpr std::size_t projects = 4;
    static constexpr std::size_t sessionsAtOnce = 5;
    static constexpr std::size_t agentsAtOnce = 3;

    void step(int reportFd) {
        std::size_t sessions = 0;
        std::size_t agents = 0;
        for (const std::size_t index : writing_) {
            ++(logs_[index].agent ? agents : sessions);
        }
        if (sessions < sessionsAtOnce) {
            startSession();
        } else if (agents < agentsAtOnce && random_.chance(0.01)) {
            startAgent();
        } else {
            advance(writing_[static_cast<std::size_t>(
                        random_.between(0, static_cast<std::int64_t>(writing_.size()) - 1))],
                    reportFd);
        }
    }

    Log& create(fs::path path, std::string sessionId, std::size_t project, bool agent, int turns) {
        fs::create_directories(path.parent_path());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
        }
        writing_.push_back(logs_.size());
        Log& log = logs_.emplace_back();
        log.path = std::move(path);
        log.sessionId = std::move(sessionId);
        log.project = project;
        log.agent = agent;
        log.fd = fd;
        log.turnsLeft = turns;
        return log;
    }

    void startSession() {
        const auto project = static_cast<std::size_t>(random_.between(0, projects - 1));
        std::string id = uuidText(random_);
        const fs::path path = root_ / ("-home-user-src-soak" + std::to_string(project)) / (id + ".jsonl");
        Log& log = create(path, std::move(id), project, false, static_cast<int>(random_.between(5, 60)));
        ++sessions_;
        // A resumed session begins by repeating the last replies of the one it continues.
        const std::vector<Reply>& previous = lastReplies_[project];
        if (!previous.empty() && random_.chance(0.25)) {
            const auto count =
                static_cast<std::size_t>(random_.between(1, static_cast<std::int64_t>(previous.size())));
            for (auto reply = previous.end() - static_cast<std::ptrdiff_t>(count); reply != previous.end();
                 ++reply) {
                log.queue.insert(log.queue.end(), reply->begin(), reply->end());
            }
        }
    }

    void startAgent() {
        std::vector<std::size_t> parents;
        for (const std::size_t index : writing_) {
            if (!logs_[index].agent) {
                parents.push_back(index);
            }
        }
        const Log& parent = logs_[parents[static_cast<std::size_t>(
            random_.between(0, static_cast<std::int64_t>(parents.size()) - 1))]];
        const fs::path path = parent.path.parent_path() / parent.sessionId / "subagents" /
                              ("agent-" + hex(++agents_, 8) + ".jsonl");
        create(path, parent.sessionId, parent.project, true, static_cast<int>(random_.between(3, 20)));
    }

    void advance(std::size_t index, int reportFd) {
        Log& log = logs_[index];
        if (log.queue.empty()) {
            if (log.turnsLeft == 0) {
                finish(index, reportFd);
                return;
            }
            --log.turnsLeft;
            queueTurn(log);
        }
        writePiece(log, random_.chance(0.3));
    }

    std::string lineStart(const Log& log) {
        return R"({"parentUuid":")" + uuidText(random_) + R"(","isSidechain":)" +
               (log.agent ? "true" : "false") + R"(,"userType":"external","cwd":"/home/user/src/soak)" +
               std::to_string(log.project) + R"(","sessionId":")" + log.sessionId +
               R"(","version":"2.0.42","timestamp":")" + utcNow() + R"(","uuid":")" + uuidText(random_) + '"';
    }

    void queueTurn(Log& log) {
        if (!log.agent && random_.chance(0.05)) {
            log.queue.push_back({R"({"type":"summary","summary":")" + filler(random_, 60) +
                                     R"(","leafUuid":")" + uuidText(random_) + "\"}\n",
                                 {},
                                 {}});
        }
        log.queue.push_back({lineStart(log) + R"(,"type":"user","message":{"role":"user","content":")" +
                                 filler(random_, static_cast<std::size_t>(random_.between(40, 1500))) +
                                 "\"}}\n",
                             {},
                             {}});
        // A failed request is logged as a reply that counts nothing.
        if (random_.chance(0.02)) {
            log.queue.push_back(
                {lineStart(log) + R"(,"type":"assistant","isApiErrorMessage":true,"message":{"id":")" +
                     uuidText(random_) +
                     R"(","model":"<synthetic>","role":"assistant","usage":{"input_tokens":0,"output_tokens":0,)"
                     R"("cache_creation_input_tokens":0,"cache_read_input_tokens":0},"content":[{"type":"text",)"
                     R"("text":"API Error: 529 Overloaded"}]}})"
                     "\n",
                 {},
                 {}});
        }
        Reply reply = makeReply(log);
        log.queue.insert(log.queue.end(), reply.begin(), reply.end());
        if (!log.agent) {
            log.recentReplies.push_back(std::move(reply));
            if (log.recentReplies.size() > 3) {
                log.recentReplies.erase(log.recentReplies.begin());
            }
        }
    }

    Reply makeReply(const Log& log) {
        static constexpr std::string_view models[] = {
            "claude-sonnet-4-5-20250929", "claude-opus-4-5-20251101", "claude-haiku-4-5-20251001"};
        const std::string_view model = models[static_cast<std::size_t>(random_.between(0, 2))];
        const std::string id = "msg_01" + runTag_ + hex(++replies_, 12);
        const std::string requestId = "req_011C" + hex(random_.next(), 16);
        TokenSums counts;
        counts.input = random_.chance(0.05) ? random_.between(100, 6000) : random_.between(1, 12);
        counts.cacheCreation = random_.between(0, 20'000);
        counts.cacheCreation1h =
            random_.chance(0.7) ? counts.cacheCreation : random_.between(0, counts.cacheCreation);
        counts.cacheRead = random_.chance(0.1) ? 0 : random_.between(10'000, 150'000);
        const std::int64_t finalOutput = random_.between(1, 4000);

        Reply reply;
        const auto copies = random_.between(1, 4);
        std::int64_t output = random_.between(1, std::min<std::int64_t>(30, finalOutput));
        for (std::int64_t copy = 1; copy <= copies; ++copy) {
            output = copy == copies ? finalOutput : random_.between(output, finalOutput);
            counts.output = output;
            std::string text =
                lineStart(log) + R"(,"type":"assistant","requestId":")" + requestId +
                R"(","message":{"model":")" + std::string(model) + R"(","id":")" + id +
                R"(","type":"message","role":"assistant","content":[{"type":"text","text":")" +
                filler(random_, static_cast<std::size_t>(random_.between(20, 1200))) +
                R"("}],"stop_reason":null,"usage":{"input_tokens":)" + std::to_string(counts.input) +
                R"(,"cache_creation_input_tokens":)" + std::to_string(counts.cacheCreation) +
                R"(,"cache_read_input_tokens":)" + std::to_string(counts.cacheRead) +
                R"(,"cache_creation":{"ephemeral_5m_input_tokens":)" +
                std::to_string(counts.cacheCreation - counts.cacheCreation1h) +
                R"(,"ephemeral_1h_input_tokens":)" + std::to_string(counts.cacheCreation1h) +
                R"(},"output_tokens":)" + std::to_string(output) + R"(,"service_tier":"standard"}}})" + "\n";
            reply.push_back({std::move(text), id, counts});
        }
        finals_[id] = counts;
        return reply;
    }

    void writePiece(Log& log, bool split) {
        Line& line = log.queue.front();
        const std::string_view rest = std::string_view(line.text).substr(log.frontWritten);
        std::size_t count = rest.size();
        if (split && log.frontWritten == 0 && rest.size() > 1) {
            count = static_cast<std::size_t>(random_.between(1, static_cast<std::int64_t>(rest.size()) - 1));
            ++splitLines_;
        }
        for (std::size_t done = 0; done < count;) {
            const ssize_t wrote = ::write(log.fd, rest.data() + done, count - done);
            if (wrote < 0 && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "cannot write " + log.path.string());
            }
            done += static_cast<std::size_t>(std::max<ssize_t>(wrote, 0));
        }
        log.frontWritten += count;
        if (log.frontWritten == line.text.size()) {
            if (!line.messageId.empty()) {
                log.messages[line.messageId] = line.tokens;
            }
            ++lines_;
            log.queue.pop_front();
            log.frontWritten = 0;
        }
    }

    void closeFile(Log& log) {
        if (::close(log.fd) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot close " + log.path.string());
        }
        log.fd = -1;
    }

    // A finished log may be deleted, but only once the store has read it whole: the store
    // keeps the records of a deleted log as it last read them.
    void finish(std::size_t index, int reportFd) {
        Log& log = logs_[index];
        closeFile(log);
        std::erase(writing_, index);
        log.state = Log::State::finished;
        if (!log.agent) {
            lastReplies_[log.project] = log.recentReplies;
        }
        if (random_.chance(0.4)) {
            struct stat info {};
            if (::stat(log.path.c_str(), &info) != 0) {
                throw std::system_error(errno, std::generic_category(), "cannot stat " + log.path.string());
            }
            log.state = Log::State::leaving;
            sendLine(reportFd, "leaving " + std::to_string(index) + " " +
                                   std::to_string(info.st_mtim.tv_sec) + " " +
                                   std::to_string(info.st_mtim.tv_nsec) + " " + log.path.string());
        }
    }

    void remove(std::size_t index) {
        Log& log = logs_.at(index);
        if (log.state != Log::State::leaving) {
            throw std::runtime_error("the soak acknowledged a log that was not leaving");
        }
        if (::unlink(log.path.c_str()) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot delete " + log.path.string());
        }
        deletedMessages_.insert(log.messages.begin(), log.messages.end());
        log.state = Log::State::gone;
        ++removed_;
    }

    void completeBegunLines() {
        for (const std::size_t index : writing_) {
            Log& log = logs_[index];
            while (!log.queue.empty()) {
                writePiece(log, false);
            }
            closeFile(log);
        }
    }

    // Every message once: those in the files left, and those only the deleted files held.
    bool writeTruth(const fs::path& truthPath) const {
        std::unordered_map<std::string, TokenSums> onDisk;
        std::string listing;
        for (const Log& log : logs_) {
            if (log.state == Log::State::gone) {
                continue;
            }
            struct stat info {};
            if (::stat(log.path.c_str(), &info) != 0) {
                std::fprintf(stderr, "writer: cannot stat %s\n", log.path.c_str());
                return false;
            }
            listing += "file " + std::to_string(info.st_mtim.tv_sec) + " " +
                       std::to_string(info.st_mtim.tv_nsec) + " " + log.path.string() + "\n";
            for (const auto& [id, counts] : log.messages) {
                // With every line complete, each file holds a reply's final copy.
                if (!(counts == finals_.at(id))) {
                    std::fprintf(stderr, "writer: %s holds %s short of its final copy\n", log.path.c_str(),
                                 id.c_str());
                    return false;
                }
                onDisk.emplace(id, counts);
            }
        }
        Account disk;
        for (const auto& entry : onDisk) {
            disk.add(entry.second);
        }
        Account deletedOnly;
        for (const auto& [id, counts] : deletedMessages_) {
            if (!onDisk.contains(id)) {
                deletedOnly.add(counts);
            }
        }
        const fs::path partial = truthPath.string() + ".partial";
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out << "on_disk " << formatAccount(disk) << "\ndeleted_only " << formatAccount(deletedOnly)
                << "\nactivity " << sessions_ << ' ' << agents_ << ' ' << replies_ << ' ' << lines_ << ' '
                << splitLines_ << ' ' << removed_ << '\n'
                << listing;
            if (!out.flush()) {
                return false;
            }
        }
        fs::rename(partial, truthPath);
        return true;
    }

    fs::path root_;
    Random random_;
    std::string runTag_;
    std::deque<Log> logs_; // indexed by the numbers the soak is told
    std::vector<std::size_t> writing_;
    std::map<std::size_t, std::vector<Reply>> lastReplies_;
    std::unordered_map<std::string, TokenSums> finals_;
    std::unordered_map<std::string, TokenSums> deletedMessages_;
    std::size_t sessions_ = 0;
    std::uint64_t agents_ = 0;
    std::uint64_t replies_ = 0;
    std::size_t lines_ = 0;
    std::size_t splitLines_ = 0;
    std::size_t removed_ = 0;
};

int runWriter(const fs::path& root, std::uint64_t seed, int controlFd, int reportFd,
              const fs::path& truthPath) {
    try {
        Writer writer(root, seed);
        return writer.run(controlFd, reportFd, truthPath);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "writer: %s\n", error.what());
        return 1;
    }
}

// ---------------------------------------------------------------------------------------
// The soak: the store on the main event loop, watched.

struct Truth {
    Account onDisk;
    Account deletedOnly;
    std::size_t sessions = 0, agents = 0, replies = 0, lines = 0, splitLines = 0, removed = 0;
    FileTimes files;
};

std::optional<Truth> readTruth(const fs::path& path) {
    std::ifstream in(path);
    Truth truth;
    std::string key;
    while (in >> key) {
        bool ok = true;
        if (key == "on_disk") {
            ok = parseAccount(in, truth.onDisk);
        } else if (key == "deleted_only") {
            ok = parseAccount(in, truth.deletedOnly);
        } else if (key == "activity") {
            ok = static_cast<bool>(in >> truth.sessions >> truth.agents >> truth.replies >> truth.lines >>
                                   truth.splitLines >> truth.removed);
        } else if (key == "file") {
            long long seconds = 0;
            long long nanoseconds = 0;
            std::string filePath;
            ok = static_cast<bool>(in >> seconds >> nanoseconds) && std::getline(in >> std::ws, filePath);
            truth.files[filePath] = mtimeSeconds(seconds, nanoseconds);
        } else {
            ok = false;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return truth;
}

std::int64_t total(const TokenSums& t) {
    return t.input + t.output + t.cacheCreation + t.cacheRead;
}

double mebibytes(long kilobytes) {
    return static_cast<double>(kilobytes) / 1024.0;
}

struct Sample {
    int seconds = 0;
    long rssKilobytes = 0;
    long heapKilobytes = 0; // what the allocator has handed out and not had back
    std::size_t records = 0;
};

long heapInUseKilobytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

struct Run {
    fs::path root;
    fs::path openClawRoot;
    fs::path truthPath;
    int seconds = defaultSeconds;
    pid_t writer = -1;
    int toWriter = -1;
    int fromWriter = -1;
};

// The times of the logs the ledger knows, as the last pass that read each one saw it; a log
// whose last read stopped short of its end has no time, as the writer's final files all end
// with a whole line.
FileTimes ledgerFileTimes(const UsageStore& store) {
    FileTimes times;
    if (store.ledger() == nullptr) {
        return times;
    }
    for (const auto& [path, state] : store.ledger()->fileStates(UsageSource::claudeCode)) {
        times[path] = state.readEnd == state.size ? state.mtime : -1.0;
    }
    return times;
}

// The store's records and their token sums, as its ledger counts them.
fernhollow::bench::LedgerAccount ledgerAccount(const UsageStore& store) {
    return store.ledger() != nullptr
               ? fernhollow::bench::ledgerAccount(*store.ledger(), UsageSource::claudeCode)
               : fernhollow::bench::LedgerAccount{};
}

// Runs the event loop until the ledger's log states name exactly the writer's final files,
// each read to its end, or the timeout passes.
bool settle(UsageStore& store, const FileTimes& files) {
    const auto deadline = Clock::now() + settleTimeout;
    while (ledgerFileTimes(store) != files && Clock::now() < deadline) {
        QEventLoop loop;
        QObject::connect(&store, &UsageStore::lastRefreshChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(std::chrono::seconds(1), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return ledgerFileTimes(store) == files;
}

void printAccount(const char* label, const Account& account) {
    const TokenSums& t = account.tokens;
    std::printf("%-22s %8zu messages  input %lld  output %lld  cache write %lld (1h %lld)  cache read %lld\n",
                label, account.messages, static_cast<long long>(t.input), static_cast<long long>(t.output),
                static_cast<long long>(t.cacheCreation), static_cast<long long>(t.cacheCreation1h),
                static_cast<long long>(t.cacheRead));
}

// Every message the writer wrote counts once: those in the logs left, and those that only the
// deleted logs held, since the ledger keeps a deleted log's records.
void checkTokens(const Truth& truth, const fernhollow::bench::LedgerAccount& ledger,
                 std::vector<std::string>& failures) {
    const Account expected{truth.onDisk.messages + truth.deletedOnly.messages,
                           truth.onDisk.tokens + truth.deletedOnly.tokens};
    const Account got{static_cast<std::size_t>(ledger.records), ledger.tokens};
    printAccount("writer, logs on disk:", truth.onDisk);
    printAccount("writer, deleted logs:", truth.deletedOnly);
    printAccount("writer, expected:", expected);
    printAccount("ledger:", got);
    if (std::string difference = fernhollow::bench::tokenSumsDifference(got.tokens, expected.tokens);
        !difference.empty()) {
        failures.push_back(std::move(difference));
    }
    if (got.messages != expected.messages) {
        failures.push_back("the ledger holds " + std::to_string(got.messages) + " records for " +
                           std::to_string(expected.messages) + " messages");
    }
}

// The baseline is the sample at the end of the first minute, or halfway through a run
// shorter than two minutes.
void checkMemory(const std::vector<Sample>& samples, const Sample& end, int seconds,
                 std::vector<std::string>& failures) {
    const int baselineSeconds = seconds >= 120 ? 60 : seconds / 2 / sampleSeconds * sampleSeconds;
    const Sample* baseline = nullptr;
    long peak = end.rssKilobytes;
    for (const Sample& sample : samples) {
        if (sample.seconds <= baselineSeconds) {
            baseline = &sample;
        }
        peak = std::max(peak, sample.rssKilobytes);
    }
    if (baseline == nullptr || baseline->rssKilobytes < 0 || end.rssKilobytes < 0) {
        failures.push_back("no memory sample to compare with");
        return;
    }
    const long bound = static_cast<long>(static_cast<double>(baseline->rssKilobytes) * (1.0 + allowedGrowth));
    std::printf(
        "memory: at %d s %zu records, RSS %.1f MiB, heap in use %.1f MiB; at the end %zu records, RSS "
        "%.1f MiB, heap in use %.1f MiB; RSS peak %.1f MiB\n",
        baseline->seconds, baseline->records, mebibytes(baseline->rssKilobytes),
        mebibytes(baseline->heapKilobytes), end.records, mebibytes(end.rssKilobytes),
        mebibytes(end.heapKilobytes), mebibytes(peak));
    std::printf(
        "        flat: RSS at the end at most %.1f MiB + %.0f%% = %.1f MiB, whatever the records gained\n",
        mebibytes(baseline->rssKilobytes), allowedGrowth * 100, mebibytes(bound));
    if (end.rssKilobytes > bound) {
        failures.push_back("RSS grew to " + std::to_string(end.rssKilobytes) + " KiB, beyond the " +
                           std::to_string(bound) + " KiB allowed");
    }
}

int soak(Run& run) {
    fernhollow::JsonPreferencesFile preferences(fernhollow::Folders::preferencesFile());
    fernhollow::AppSettings settings(preferences);
    // No budget, so no alert is ever due and no notification service is needed.
    settings.setMonthlyBudgetUSD(0.0);
    QNetworkAccessManager network;
    const fernhollow::QtLocalCalendar calendar;
    UsageStore::Options options;
    options.claudeProjectsRoots = {run.root};
    options.openClawStateFolder = run.openClawRoot;
    options.refreshInterval = refreshInterval;
    options.interactive = true;
    options.fetchOpenAI = false;
    UsageStore store(settings, network, calendar, options);

    std::size_t passes = 0;
    std::int64_t lastTotal = 0;
    std::size_t falls = 0;
    std::int64_t largestFall = 0;
    FileTimes lastTimes;
    std::size_t olderViews = 0;
    std::map<std::size_t, std::pair<std::string, double>> leaving; // writer's log number -> path, final time
    QObject::connect(&store, &UsageStore::lastRefreshChanged, &store, [&] {
        ++passes;
        // The writer only appends, and a deleted log keeps its records: the total never falls.
        const std::int64_t now = total(ledgerAccount(store).tokens);
        if (now < lastTotal) {
            ++falls;
            largestFall = std::max(largestFall, lastTotal - now);
        }
        lastTotal = now;
        // The writer never moves a file's time back, so a log state with an earlier time than
        // the pass before recorded is an older scan's view written after a newer one's.
        const fernhollow::LogFileStates states = store.ledger() != nullptr
                                                     ? store.ledger()->fileStates(UsageSource::claudeCode)
                                                     : fernhollow::LogFileStates{};
        for (const auto& [path, state] : states) {
            if (const auto before = lastTimes.find(path);
                before != lastTimes.end() && state.mtime < before->second) {
                ++olderViews;
                break;
            }
        }
        lastTimes.clear();
        for (const auto& [path, state] : states) {
            lastTimes[path] = state.mtime;
        }
        // A finished log may go once a pass has read it to its end at its final time.
        for (auto it = leaving.begin(); it != leaving.end();) {
            const auto known = states.find(it->second.first);
            if (run.toWriter >= 0 && known != states.end() && known->second.mtime == it->second.second &&
                known->second.readEnd == known->second.size) {
                sendLine(run.toWriter, "ack " + std::to_string(it->first));
                it = leaving.erase(it);
            } else {
                ++it;
            }
        }
    });

    LineReceiver fromWriter(run.fromWriter);
    bool writerQuit = false;
    QSocketNotifier notifier(run.fromWriter, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &store, [&] {
        for (const std::string& message : fromWriter.receive()) {
            std::istringstream in(message);
            std::string kind;
            std::size_t index = 0;
            long long seconds = 0;
            long long nanoseconds = 0;
            std::string path;
            if (in >> kind >> index >> seconds >> nanoseconds && std::getline(in >> std::ws, path) &&
                kind == "leaving") {
                leaving[index] = {path, mtimeSeconds(seconds, nanoseconds)};
            }
        }
        if (!fromWriter.open) {
            writerQuit = true;
            notifier.setEnabled(false);
            QCoreApplication::exit(1);
        }
    });

    const auto started = Clock::now();
    std::vector<Sample> samples;
    QTimer sampler;
    sampler.setInterval(std::chrono::seconds(sampleSeconds));
    QObject::connect(&sampler, &QTimer::timeout, &store, [&] {
        const int seconds = static_cast<int>(samples.size() + 1) * sampleSeconds;
        samples.push_back({seconds, fernhollow::bench::statusKilobytes("VmRSS"), heapInUseKilobytes(),
                           static_cast<std::size_t>(store.recordCount(UsageSource::claudeCode))});
        if (seconds % 60 == 0) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
            std::printf("[%6.1f s] records %7zu  RSS %7.1f MiB  heap in use %7.1f MiB  refreshes %7zu\n",
                        elapsed, samples.back().records, mebibytes(samples.back().rssKilobytes),
                        mebibytes(samples.back().heapKilobytes), passes);
            std::fflush(stdout);
        }
    });
    sampler.start();
    QTimer::singleShot(std::chrono::seconds(run.seconds), &store, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    sampler.stop();
    notifier.setEnabled(false);

    std::vector<std::string> failures;
    if (writerQuit) {
        failures.push_back("the writer stopped before the end");
    }
    sendLine(run.toWriter, "stop");
    int status = 0;
    while (::waitpid(run.writer, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(run.toWriter);
    run.toWriter = -1;
    const std::optional<Truth> truth =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 ? readTruth(run.truthPath) : std::nullopt;
    if (!truth) {
        failures.push_back("the writer left no account of what it wrote (wait status " +
                           std::to_string(status) + ")");
    } else {
        const std::size_t passesBeforeFinal = passes;
        QCoro::waitFor(store.refresh());
        const bool settled = settle(store, truth->files);
        std::printf("\nwriter: %zu sessions, %zu sub-agent logs, %zu replies, %zu lines (%zu written in two "
                    "pieces), %zu logs deleted\n",
                    truth->sessions, truth->agents, truth->replies, truth->lines, truth->splitLines,
                    truth->removed);
        const auto account = ledgerAccount(store);
        std::printf(
            "ledger: %lld records, %zu refreshes completed, %zu of them after the writer stopped (the "
            "final one among them); its log states then %s the disk\n",
            static_cast<long long>(account.records), passes, passes - passesBeforeFinal,
            settled ? "matched" : "still differed from");
        if (!settled) {
            failures.push_back("the ledger's log states never matched the files on disk");
        }
        checkTokens(*truth, account, failures);
        std::printf("ledger total fell between passes: %zu times (largest fall %lld tokens); a pass "
                    "wrote an older view of a log than the one before it %zu times\n",
                    falls, static_cast<long long>(largestFall), olderViews);
        if (falls != 0) {
            failures.push_back("the ledger's token total fell " + std::to_string(falls) + " times");
        }
        if (olderViews != 0) {
            failures.push_back("a log's state went back in time " + std::to_string(olderViews) + " times");
        }
        const Sample end{run.seconds, fernhollow::bench::statusKilobytes("VmRSS"), heapInUseKilobytes(),
                         static_cast<std::size_t>(account.records)};
        checkMemory(samples, end, run.seconds, failures);
    }

    if (failures.empty()) {
        std::printf("PASS\n");
        return 0;
    }
    for (const std::string& failure : failures) {
        std::printf("FAIL: %s\n", failure.c_str());
    }
    return 1;
}

// HOME and the XDG folders point into a new temporary folder before Qt starts, so the soak
// never reads or writes the user's own files.
fs::path useTemporaryHome() {
    std::string pattern = (fs::temp_directory_path() / "fernhollow-soak-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
    }
    const fs::path home = pattern;
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    return home;
}

template <typename Number> bool parseNumber(std::string_view text, Number& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv) {
    Run run;
    std::uint64_t seed = std::random_device()();
    if (argc > 3 || (argc > 1 && (!parseNumber(argv[1], run.seconds) || run.seconds < shortestSeconds)) ||
        (argc > 2 && !parseNumber(argv[2], seed))) {
        std::fprintf(stderr, "usage: fernhollow-soak [SECONDS (at least %d, default %d) [SEED]]\n",
                     shortestSeconds, defaultSeconds);
        return 2;
    }
    const fs::path home = useTemporaryHome();
    run.root = home / ".claude" / "projects";
    run.openClawRoot = home / "openclaw-agents";
    run.truthPath = home / "writer-account.txt";
    fs::create_directories(run.root);
    fs::create_directories(run.openClawRoot);

    // The writer starts before Qt does, so the fork copies a process with a single thread.
    int toWriter[2];
    int fromWriter[2];
    // Each side reads without blocking and writes with blocking.
    if (::pipe2(toWriter, O_CLOEXEC) != 0 || ::pipe2(fromWriter, O_CLOEXEC) != 0 ||
        ::fcntl(toWriter[0], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(fromWriter[0], F_SETFL, O_NONBLOCK) != 0) {
        std::perror("fernhollow-soak: pipe");
        return 1;
    }
    std::printf("fernhollow-soak: %d s, seed %llu, a refresh every %lld ms, tree %s\n", run.seconds,
                static_cast<unsigned long long>(seed), static_cast<long long>(refreshInterval.count()),
                run.root.c_str());
    std::fflush(stdout);
    run.writer = ::fork();
    if (run.writer < 0) {
        std::perror("fernhollow-soak: fork");
        return 1;
    }
    if (run.writer == 0) {
        ::close(toWriter[1]);
        ::close(fromWriter[0]);
        ::_exit(runWriter(run.root, seed, toWriter[0], fromWriter[1], run.truthPath));
    }
    ::close(toWriter[0]);
    ::close(fromWriter[1]);
    run.toWriter = toWriter[1];
    run.fromWriter = fromWriter[0];
    // A writer that died must show as a failure, not end the soak by a signal.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    const int code = soak(run);
    if (code == 0) {
        std::error_code ignored;
        fs::remove_all(home, ignored);
    } else {
        std::printf("the tree and the writer's account stay in %s\n", home.c_str());
    }
    return code;
}
