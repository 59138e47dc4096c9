// Prints how many records a ledger holds, reading it beside the app that writes it, so that a
// script can tell when the app's first pass has committed. Never writes to the ledger.
#include "core/ledger/Sqlite.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: fernhollow-ledger-records LEDGER\n", stderr);
        return 2;
    }
    try {
        fernhollow::sqlite::Database db(argv[1], fernhollow::sqlite::Database::Mode::readOnly);
        auto count = db.prepare("SELECT coalesce(sum(records), 0) FROM model_totals");
        long long records = 0;
        if (count.step()) {
            records = static_cast<long long>(count.integer(0));
        }
        count.run();
        std::printf("%lld\n", records);
    } catch (const std::exception& error) {
        // Also before the app has made the ledger's tables: the caller asks again.
        std::fprintf(stderr, "fernhollow-ledger-records: %s\n", error.what());
        return 1;
    }
    return 0;
}
