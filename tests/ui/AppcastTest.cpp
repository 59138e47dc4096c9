#include "ui/Appcast.h"

#include "support/AppcastFeed.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace {

using namespace fernhollow;
using test::appcastFeed;

TEST(AppcastTest, VersionsOrderPartByPartAsNumbers) {
    struct Case {
        const char* lower;
        const char* higher;
    };
    const Case ascending[] = {
        {"0.4.1", "0.10.0"},
        {"1.2", "1.2.1"},
        {"1.2.0-beta", "1.2.0"},
        {"1.2.0-alpha", "1.2.0-beta"},
        {"1.2.0-beta2", "1.2.0-beta10"},
        {"1.2.rc1", "1.2.0.1"},
        {"1.2.0", "v1.10"},
        {"99999999999999999999", "100000000000000000000"},
        {"nightly", "0.1"},
    };
    for (const auto& [lower, higher] : ascending) {
        EXPECT_TRUE(Appcast::compareVersions(QString::fromUtf8(lower), QString::fromUtf8(higher)) < 0)
            << lower << " < " << higher;
        EXPECT_TRUE(Appcast::compareVersions(QString::fromUtf8(higher), QString::fromUtf8(lower)) > 0)
            << higher << " > " << lower;
    }
    const Case equal[] = {
        {"1.2", "1.2.0"},          {"1.2.0", "v1.2.0"},   {"01.002", "1.2"},
        {"1.2.0+build7", "1.2.0"}, {" 1.2.0\n", "1.2.0"}, {"1.2.0-RC1", "1.2.0-rc1"},
    };
    for (const auto& [left, right] : equal) {
        EXPECT_TRUE(Appcast::compareVersions(QString::fromUtf8(left), QString::fromUtf8(right)) == 0)
            << left << " == " << right;
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

TEST(AppcastTest, ItemsGiveTheirVersionAndHttpsPage) {
    struct Case {
        const char* what;
        QByteArray document;
        std::optional<Releases> expected;
    };
    const Case cases[] = {
        {"version element over the enclosure's, release page over the download",
         appcastFeed(R"(<item><sparkle:version>0.5.0</sparkle:version>
                   <sparkle:shortVersionString>0.5</sparkle:shortVersionString>
                   <link> https://example.org/releases/0.5.0 </link>
                   <enclosure url="https://example.org/fernhollow-0.5.0.tar.gz" sparkle:version="9"/></item>)"),
         Releases{{"0.5.0", "https://example.org/releases/0.5.0"}}},
        {"short version element, then the enclosure's attributes, then its URL",
         appcastFeed(R"(<item><sparkle:shortVersionString>0.6</sparkle:shortVersionString>
                   <link>https://example.org/releases/0.6</link></item>
                 <item><enclosure url="https://example.org/0.7.tar.gz" sparkle:version="0.7.0"
                                  sparkle:shortVersionString="0.7"/></item>
                 <item><enclosure url="https://example.org/0.8.tar.gz" sparkle:shortVersionString="0.8"/></item>)"),
         Releases{{"0.6", "https://example.org/releases/0.6"},
                  {"0.7.0", "https://example.org/0.7.tar.gz"},
                  {"0.8", "https://example.org/0.8.tar.gz"}}},
        {"items without a version or an https page are left out; other namespaces are not Sparkle's",
         appcastFeed(R"(<item><link>https://example.org/releases/unversioned</link></item>
                 <item><sparkle:version>0.9</sparkle:version><link>http://example.org/releases/0.9</link></item>
                 <item><sparkle:version>1.0</sparkle:version></item>
                 <item><version>1.1</version><atom:link href="https://example.org/1.1"/>
                       <link>https://example.org/releases/1.1</link></item>
                 <item xmlns:s="http://www.andymatuschak.org/xml-namespaces/sparkle"><s:version>1.2</s:version>
                       <link>https://example.org/releases/1.2</link></item>)"),
         Releases{{"1.2", "https://example.org/releases/1.2"}}},
        {"a feed without items", appcastFeed(""), Releases{}},
        {"empty", "", std::nullopt},
        {"another kind of XML", "<feed><entry/></feed>", std::nullopt},
        {"trailing rubbish", appcastFeed("") + "<rss/>", std::nullopt},
        {"a DTD",
         R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY v "9.9">]>)"
         R"(<rss><channel><item><sparkle:version xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">&v;</sparkle:version>)"
         R"(<link>https://example.org/</link></item></channel></rss>)",
         std::nullopt},
    };
    for (const auto& [what, document, expected] : cases) {
        EXPECT_EQ(read(document), expected) << what;
    }
}

TEST(AppcastTest, TheNewestIsTheFirstOfTheHighestVersion) {
    const auto release = [](const char* version, const char* page) {
        return Appcast::Release{QString::fromUtf8(version), QUrl(QString::fromUtf8(page))};
    };
    EXPECT_FALSE(Appcast::newest({}));
    const std::optional<Appcast::Release> newest =
        Appcast::newest({release("0.9.0", "https://a/"), release("0.10.0", "https://b/"),
                         release("0.10", "https://c/"), release("0.10.0-rc1", "https://d/")});
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->downloadPage, QUrl("https://b/"));
}

} // namespace
