// The report data the report fuzz targets transform: a category holding a
// folder's files and an audio disc with its tracks, as a real library makes
// it (non-ASCII names and markup in a comment included).
#pragma once

#include <libxml/parser.h>

#include <cstring>

#include "platform/xml.h"

inline constexpr const char* kReportSample = R"(<?xml version="1.0"?>
<report xmlns:dt="urn:schemas-microsoft-com:datatypes" title="l">
<category name="Music" hasProperty="1"><creation-date datenum="754051" timenum="83416">2026-12-07 23:10</creation-date>
<cddvd-number>1</cddvd-number><audio-tracks>3</audio-tracks><price>12.50</price>
<category name="Rock" hasProperty="1"><creation-date datenum="754051" timenum="83416">2026-12-07 23:10</creation-date>
<cddvd-number>1</cddvd-number><audio-tracks>0</audio-tracks><price>0.00</price>
<file-structure cd-name="Sommer &#xE4;"><media-type>Folder on a hard disk</media-type><cd-capacity>1</cd-capacity>
<recording-depth>2</recording-depth><location>/tmp/rd/src</location><folders>1</folders><files>1</files>
<file-items type="file" hasProperty="0"><file-name>a.txt</file-name><file-size text="3 B">3</file-size>
<modification-date datenum="754051" timenum="83413">2026-12-07 23:10</modification-date></file-items>
<file-items type="folder" hasProperty="0"><file-name>sub</file-name>
<modification-date datenum="754051" timenum="83413">2026-12-07 23:10</modification-date>
<file-items type="file" hasProperty="1"><file-name>b.mp3</file-name><file-size text="1 KB">1024</file-size>
<modification-date datenum="754050" timenum="1">2026-12-06 00:00</modification-date></file-items></file-items>
</file-structure></category>
<audio-details cd-name="Live CD"><album>Night Drive</album><artist>Band</artist><genre>Rock</genre><year>1999</year>
<cd-type>Audio CD</cd-type><tracks>3</tracks><length text="10:18">618</length><catalog-number>5099902894525</catalog-number>
<price>12.50</price><comment>x &lt;y&gt; &amp; z</comment>
<track-item><track-name>Night Drive</track-name><track-length text="2:57">177</track-length><track-ISRC>GBAYE2600001</track-ISRC>
<track-performer>The Night Owls</track-performer><track-songwriter>A. Writer</track-songwriter></track-item>
<track-item><track-name>&#xC9;t&#xE9; indien</track-name><track-length text="3:30">210</track-length></track-item>
<track-item><track-name>Rain on Glass</track-name><track-length text="3:51">231</track-length><track-composer>C</track-composer></track-item>
</audio-details></category></report>)";

inline tamber::xml::Doc reportSample() {
  return tamber::xml::Doc(xmlReadMemory(kReportSample, static_cast<int>(std::strlen(kReportSample)), nullptr, "UTF-8",
                                        XML_PARSE_NONET));
}
