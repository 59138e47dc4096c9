#pragma once

#include <QByteArray>

namespace fernhollow::test {

// A Sparkle appcast around `items`, with the namespaces a real feed declares.
inline QByteArray appcastFeed(const QByteArray& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"
     xmlns:atom="http://www.w3.org/2005/Atom">
  <channel><title>Fernhollow</title>)" +
           items + "</channel></rss>\n";
}

inline QByteArray appcastItem(const QByteArray& version, const QByteArray& page) {
    return "<item><title>Fernhollow " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><link>" + page + "</link></item>";
}

} // namespace fernhollow::test
