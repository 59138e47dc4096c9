#include "ui/Appcast.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <initializer_list>

namespace fernhollow::Appcast {
namespace {

constexpr auto sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The length of the leading run of digits, or of other characters.
qsizetype leadingRun(QStringView text) {
    const bool digits = isAsciiDigit(text.front());
    qsizetype length = 1;
    while (length < text.size() && isAsciiDigit(text[length]) == digits) {
        ++length;
    }
    return length;
}

// By value, however many digits: an empty run is 0.
std::strong_ordering compareNumerals(QStringView left, QStringView right) {
    const auto significant = [](QStringView digits) {
        while (!digits.isEmpty() && digits.front() == u'0') {
            digits = digits.sliced(1);
        }
        return digits;
    };
    left = significant(left);
    right = significant(right);
    if (left.size() != right.size()) {
        return left.size() <=> right.size();
    }
    return left.compare(right) <=> 0;
}

// Runs of digits compare by value and below letters, letters as text regardless of case, and
// the shorter of two otherwise equal labels comes first.
std::strong_ordering comparePreReleases(QStringView left, QStringView right) {
    while (!left.isEmpty() && !right.isEmpty()) {
        const QStringView leftRun = left.first(leadingRun(left));
        const QStringView rightRun = right.first(leadingRun(right));
        const bool leftNumber = isAsciiDigit(leftRun.front());
        const bool rightNumber = isAsciiDigit(rightRun.front());
        std::strong_ordering order = std::strong_ordering::equal;
        if (leftNumber && rightNumber) {
            order = compareNumerals(leftRun, rightRun);
        } else if (leftNumber != rightNumber) {
            order = leftNumber ? std::strong_ordering::less : std::strong_ordering::greater;
        } else {
            order = leftRun.compare(rightRun, Qt::CaseInsensitive) <=> 0;
        }
        if (order != 0) {
            return order;
        }
        left = left.sliced(leftRun.size());
        right = right.sliced(rightRun.size());
    }
    return left.size() <=> right.size();
}

struct Version {
    std::vector<QStringView> numbers;
    QStringView preRelease;
};

Version parseVersion(QStringView text) {
    text = text.trimmed();
    if (text.startsWith(u'v', Qt::CaseInsensitive)) {
        text = text.sliced(1);
    }
    if (const qsizetype plus = text.indexOf(u'+'); plus >= 0) {
        text = text.first(plus);
    }
    Version version;
    qsizetype position = 0;
    while (position < text.size() && isAsciiDigit(text[position])) {
        const qsizetype length = leadingRun(text.sliced(position));
        version.numbers.push_back(text.sliced(position, length));
        position += length;
        // A dot goes on to another part only when digits follow; "1.2.rc1" has the label "rc1".
        const bool anotherPart =
            position + 1 < text.size() && text[position] == u'.' && isAsciiDigit(text[position + 1]);
        if (!anotherPart) {
            break;
        }
        ++position;
    }
    QStringView label = text.sliced(position);
    while (!label.isEmpty() && QStringView(u"-._~").contains(label.front())) {
        label = label.sliced(1);
    }
    version.preRelease = label;
    return version;
}

bool isRss(const QXmlStreamReader& xml, QStringView name) {
    return xml.namespaceUri().isEmpty() && xml.name() == name;
}

bool isSparkle(const QXmlStreamReader& xml, QStringView name) {
    return xml.namespaceUri() == QLatin1String(sparkleNamespace) && xml.name() == name;
}

// Steps to the root element, refusing a DTD on the way.
bool enterRoot(QXmlStreamReader& xml) {
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isDTD()) {
            return false;
        }
        if (xml.isStartElement()) {
            return true;
        }
    }
    return false;
}

QString firstNonEmpty(std::initializer_list<QString> candidates) {
    const auto found = std::find_if(candidates.begin(), candidates.end(),
                                    [](const QString& candidate) { return !candidate.isEmpty(); });
    return found != candidates.end() ? *found : QString();
}

std::optional<Release> readItem(QXmlStreamReader& xml) {
    QString version;
    QString shortVersion;
    QString link;
    QString enclosureVersion;
    QString enclosureShortVersion;
    QString enclosureUrl;
    while (xml.readNextStartElement()) {
        if (isSparkle(xml, u"version")) {
            version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isSparkle(xml, u"shortVersionString")) {
            shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isRss(xml, u"link")) {
            link = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isRss(xml, u"enclosure")) {
            const auto attribute = [attributes = xml.attributes()](const char* namespaceUri,
                                                                   const char* name) {
                return attributes.value(QLatin1String(namespaceUri), QLatin1String(name))
                    .trimmed()
                    .toString();
            };
            enclosureUrl = attribute("", "url");
            enclosureVersion = attribute(sparkleNamespace, "version");
            enclosureShortVersion = attribute(sparkleNamespace, "shortVersionString");
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    Release release{firstNonEmpty({version, shortVersion, enclosureVersion, enclosureShortVersion}),
                    QUrl(firstNonEmpty({link, enclosureUrl}), QUrl::StrictMode)};
    const bool https = release.downloadPage.isValid() &&
                       release.downloadPage.scheme() == QLatin1String("https") &&
                       !release.downloadPage.host().isEmpty();
    if (release.version.isEmpty() || !https) {
        return std::nullopt;
    }
    return release;
}

} // namespace

std::optional<std::vector<Release>> releases(const QByteArray& document) {
    QXmlStreamReader xml(document);
    if (!enterRoot(xml) || !isRss(xml, u"rss")) {
        return std::nullopt;
    }
    std::vector<Release> found;
    while (xml.readNextStartElement()) {
        if (!isRss(xml, u"channel")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (!isRss(xml, u"item")) {
                xml.skipCurrentElement();
            } else if (std::optional<Release> release = readItem(xml)) {
                found.push_back(std::move(*release));
            }
        }
    }
    // A document cut short, or with more after the root, is no feed.
    while (!xml.atEnd()) {
        xml.readNext();
    }
    if (xml.hasError()) {
        return std::nullopt;
    }
    return found;
}

std::optional<Release> newest(const std::vector<Release>& releases) {
    const auto found =
        std::max_element(releases.begin(), releases.end(), [](const Release& a, const Release& b) {
            return compareVersions(a.version, b.version) < 0;
        });
    if (found == releases.end()) {
        return std::nullopt;
    }
    return *found;
}

std::strong_ordering compareVersions(QStringView left, QStringView right) {
    const Version a = parseVersion(left);
    const Version b = parseVersion(right);
    for (std::size_t part = 0; part < std::max(a.numbers.size(), b.numbers.size()); ++part) {
        const QStringView leftNumber = part < a.numbers.size() ? a.numbers[part] : QStringView();
        const QStringView rightNumber = part < b.numbers.size() ? b.numbers[part] : QStringView();
        if (const std::strong_ordering order = compareNumerals(leftNumber, rightNumber); order != 0) {
            return order;
        }
    }
    if (a.preRelease.isEmpty() != b.preRelease.isEmpty()) {
        return a.preRelease.isEmpty() ? std::strong_ordering::greater : std::strong_ordering::less;
    }
    return comparePreReleases(a.preRelease, b.preRelease);
}

} // namespace fernhollow::Appcast
