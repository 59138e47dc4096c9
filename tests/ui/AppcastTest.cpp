#include "ui/Appcast.h"

#include "support/AppcastFeed.h"
#include "support/QtPrinters.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace fernhollow;
using test::appcastFeed;

// The order of two versions, -1, 0 or 1, either way round.
TEST(AppcastTest, VersionsOrderPartByPartAsNumbers) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"0.4.1", "0.10.0", -1},
        {"1.2", "1.2.1", -1},
        {"1.2.0-beta", "1.2.0", -1},
        {"1.2.0-alpha", "1.2.0-beta", -1},
        {"1.2.0-beta2", "1.2.0-beta10", -1},
        {"1.2.rc1", "1.2.0.1", -1},
        {"99999999999999999999", "100000000000000000000", -1},
        {"nightly", "0.1", -1},
        {"1.2", "1.2.0", 0},
        {"1.2.0", "v1.2.0", 0},
        {"01.002", "1.2", 0},
        {"1.2.0+build7", "1.2.0", 0},
        {" 1.2.0\n", "1.2.0", 0},
        {"1.2.0-RC1", "1.2.0-rc1", 0},
    };
    const auto order = [](const char* left, const char* right) {
        const auto compared = Appcast::compareVersions(QString::fromUtf8(left), QString::fromUtf8(right));
        return (compared > 0) - (compared < 0);
    };
    for (const auto& [left, right, expected] : cases) {
        EXPECT_EQ(order(left, right), expected) << left << " vs " << right;
        EXPECT_EQ(order(right, left), -expected) << right << " vs " << left;
    }
}

using Releases = std::vector<std::pair<QString, QString>>;

std::optional<Releases> read(const QByteArray& document) {
    const std::optional<std::vector<Appcast::Release>> releases = Appcast::releases(document);
    if (!releases) {
        return std::nullopt;
    }
    Releases found;
    for (const Appcast::Release& release : *releases) {
        found.emplace_back(release.version, release.downloadPage.toString());
    }
    return found;
}

QByteArray feed(const char* name) {
    return QByteArray::fromStdString(test::dataText(std::string("appcast/") + name));
}

TEST(AppcastTest, ItemsGiveTheirVersionAndHttpsPage) {
    // Without items or without a feed at all is the updater's test.
    const std::tuple<const char*, QByteArray, std::optional<Releases>> cases[] = {
        {"version element over the enclosure's, release page over the download",
         feed("version-element-first.xml"), Releases{{"0.5.0", "https://example.org/releases/0.5.0"}}},
        {"short version element, then the enclosure's attributes, then its URL",
         feed("version-fallbacks.xml"),
         Releases{{"0.6", "https://example.org/releases/0.6"},
                  {"0.7.0", "https://example.org/0.7.tar.gz"},
                  {"0.8", "https://example.org/0.8.tar.gz"}}},
        {"items without a version or an https page are left out; other namespaces are not Sparkle's",
         feed("unusable-items.xml"), Releases{{"1.2", "https://example.org/releases/1.2"}}},
        {"another kind of XML", "<feed><entry/></feed>", std::nullopt},
        {"trailing rubbish", appcastFeed("") + "<rss/>", std::nullopt},
        {"a DTD", feed("entity-in-dtd.xml"), std::nullopt},
    };
    for (const auto& [what, document, expected] : cases) {
        EXPECT_EQ(read(document), expected) << what;
    }
}

} // namespace
