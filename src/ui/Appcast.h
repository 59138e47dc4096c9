#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <compare>
#include <optional>
#include <vector>

// The update feed: an RSS 2.0 document with Sparkle's extensions, one <item> per release.
namespace fernhollow::Appcast {

struct Release {
    QString version;
    // The release page, or else the download itself; always https.
    QUrl downloadPage;
};

// Every item that names a version and an https download link, in document order. Nothing when
// the document is not a well-formed RSS feed, or declares a DTD: a feed needs none, and
// refusing it keeps entity expansion out of reach.
std::optional<std::vector<Release>> releases(const QByteArray& document);

// The release with the highest version; the first of equals. Nothing when there is none.
std::optional<Release> newest(const std::vector<Release>& releases);

// Orders dotted versions part by part as numbers, a missing part counting as 0, so
// 0.4.0 < 0.4.1 < 0.10.0 and 1.2 == 1.2.0. A leading "v" is ignored, and so is build data after
// "+". Text after the numbers marks a pre-release, below the same numbers without it
// (1.2.0-beta < 1.2.0); pre-releases order by their letters and numbers (beta2 < beta10 < rc1).
std::strong_ordering compareVersions(QStringView left, QStringView right);

} // namespace fernhollow::Appcast
