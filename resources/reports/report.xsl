<?xml version="1.0" encoding="UTF-8"?>
<!-- The default report: a printable HTML page of the selected categories,
     discs and folders, their file trees and audio tracks. The program edits
     the xsl:sort children of the apply-templates below and sets the
     parameters. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"
              doctype-system="about:legacy-compat"/>

  <xsl:param name="dateformat" select="''"/>
  <xsl:param name="timeformat" select="''"/>
  <xsl:param name="summary" select="''"/>
  <xsl:param name="showCover_filepart" select="0"/>
  <xsl:param name="showCover_audiopart" select="0"/>
  <xsl:param name="Categoryname" select="'Category'"/>
  <xsl:param name="Creationdate" select="'Created'"/>
  <xsl:param name="cddvds" select="'Discs and folders'"/>
  <xsl:param name="audiotracks" select="'Audio tracks'"/>
  <xsl:param name="price" select="'Price'"/>
  <xsl:param name="mediatype" select="'Media type'"/>
  <xsl:param name="capacity" select="'Capacity'"/>
  <xsl:param name="recdepth" select="'Depth'"/>
  <xsl:param name="tracks" select="'Tracks'"/>
  <xsl:param name="location" select="'Location'"/>
  <xsl:param name="filesize" select="'Size'"/>
  <xsl:param name="trackinfo" select="'Track'"/>
  <xsl:param name="isrc" select="'ISRC'"/>
  <xsl:param name="performer" select="'Performer'"/>
  <xsl:param name="composer" select="'Composer'"/>
  <xsl:param name="swriter" select="'Songwriter'"/>
  <xsl:param name="artist" select="'Artist'"/>
  <xsl:param name="genre" select="'Genre'"/>
  <xsl:param name="year" select="'Year'"/>
  <xsl:param name="length" select="'Length'"/>
  <xsl:param name="catlognbr" select="'Catalog number'"/>
  <xsl:param name="categories" select="'Categories'"/>
  <xsl:param name="totalprice" select="'Total price'"/>
  <xsl:param name="colname" select="'Name'"/>
  <xsl:param name="colmodified" select="'Modified'"/>
  <xsl:param name="filesfolders" select="'%s files, %s folders'"/>
  <xsl:param name="lang" select="'en'"/>
  <!-- Which fields each level shows: "1" at position i shows field i. -->
  <xsl:param name="fields_category" select="'111111'"/>
  <xsl:param name="fields_file-structure" select="'111111111'"/>
  <xsl:param name="fields_file-items" select="'1111'"/>
  <xsl:param name="fields_audio-details" select="'11111111111'"/>
  <xsl:param name="fields_track-item" select="'111111'"/>
  <xsl:param name="show_category" select="1"/>
  <xsl:param name="show_file-structure" select="1"/>
  <xsl:param name="show_file-items" select="1"/>
  <xsl:param name="show_audio-details" select="1"/>
  <xsl:param name="show_track-item" select="1"/>
  <xsl:param name="show_summary" select="1"/>
  <!-- This stylesheet takes the file trees in pieces: a document whose root
       has a "piece" attribute holds the entries of one or more folders, and
       the comment "tamber-piece:N" stands where piece N goes. -->
  <xsl:param name="pieces" select="1"/>

  <xsl:template match="/report[@piece]" priority="2">
    <xsl:apply-templates select="file-items">
      <xsl:with-param name="depth" select="number(@depth)"/>
    </xsl:apply-templates>
  </xsl:template>

  <xsl:template name="piece">
    <xsl:if test="@piece">
      <xsl:comment>tamber-piece:<xsl:value-of select="@piece"/></xsl:comment>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/report">
    <html lang="{$lang}">
      <head>
        <meta charset="utf-8"/>
        <meta name="generator" content="Tamber+"/>
        <title><xsl:value-of select="@title"/></title>
        <style>
:root { --ink: #1d2430; --muted: #5b6675; --rule: #d9dee5; --band: #f3f5f8; --accent: #2f6db5; }
* { box-sizing: border-box; }
body { font: 10.5pt/1.45 "DejaVu Sans", "Segoe UI", Helvetica, Arial, sans-serif; color: var(--ink);
       margin: 2.2em auto; max-width: 60em; padding: 0 1.5em; }
h1 { font-size: 20pt; font-weight: 600; margin: 0 0 .2em; letter-spacing: -.01em; }
.subtitle { color: var(--muted); margin-bottom: 1.8em; }
section.category { margin: 1.6em 0 1em; }
section.category > h2 { font-size: 14pt; font-weight: 600; margin: 0; padding: .3em 0;
       border-bottom: 2px solid var(--accent); }
section.category section.category > h2 { font-size: 12pt; border-bottom-width: 1px; }
.facts { display: flex; flex-wrap: wrap; gap: .2em 1.6em; color: var(--muted); font-size: 9.5pt; margin: .4em 0 .8em; }
.facts b { color: var(--ink); font-weight: 600; }
article.item { border: 1px solid var(--rule); border-radius: 6px; margin: .9em 0; padding: .8em 1em;
       break-inside: avoid-page; }
article.item > header { display: flex; gap: 1em; align-items: flex-start; }
article.item > header h3 { font-size: 12pt; margin: 0 0 .2em; font-weight: 600; }
article.item .kind { display: inline-block; font-size: 8.5pt; color: #fff; background: var(--accent);
       border-radius: 3px; padding: .05em .45em; margin-left: .4em; vertical-align: .15em; }
article.item.audio .kind { background: #8a4fb5; }
img.cover { width: 72px; height: 72px; object-fit: cover; border-radius: 4px; border: 1px solid var(--rule); }
table { border-collapse: collapse; width: 100%; margin-top: .6em; font-size: 9.5pt; }
th { text-align: left; font-weight: 600; color: var(--muted); border-bottom: 1px solid var(--rule); padding: .25em .5em; }
td { padding: .2em .5em; border-bottom: 1px solid #eef1f4; vertical-align: top; }
tbody tr:nth-child(even) td { background: var(--band); }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; width: 1%; }
/* A file table is laid out by its first row, so that the tables a long one
   is cut into keep its columns; each block after the first is laid out
   only when it comes into sight. */
table.files { table-layout: fixed; }
table.files td.num, table.files th.num { width: 9.5em; }
div.block { content-visibility: auto; contain-intrinsic-size: auto 11000px; }
div.block table.files { margin-top: 0; }
td.name { word-break: break-word; }
tr.folder td.name { font-weight: 600; }
tr.folder .fname::after { content: "/"; color: var(--muted); font-weight: 400; }
td.name .indent { display: inline-block; }
.props { color: var(--muted); font-size: 8.5pt; }
.props span { margin-right: 1em; }
.summary { margin-top: 2em; padding-top: .6em; border-top: 2px solid var(--accent); color: var(--muted); }
.summary b { color: var(--ink); }
@media print {
  body { margin: 0; max-width: none; font-size: 9.5pt; }
  article.item { border-color: #bbb; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
}
        </style>
      </head>
      <body>
        <h1><xsl:value-of select="@title"/></h1>
        <div class="subtitle">
          <xsl:value-of select="$categories"/>: <xsl:value-of select="count(//category)"/>
          <xsl:text> · </xsl:text>
          <xsl:value-of select="$cddvds"/>: <xsl:value-of select="count(//file-structure | //audio-details)"/>
        </div>
        <xsl:if test="$show_category = 1">
          <xsl:apply-templates select="category"/>
        </xsl:if>
        <xsl:if test="$show_file-structure = 1">
          <xsl:apply-templates select="file-structure"/>
        </xsl:if>
        <xsl:if test="$show_audio-details = 1">
          <xsl:apply-templates select="audio-details"/>
        </xsl:if>
        <xsl:if test="$show_summary = 1">
          <div class="summary">
            <xsl:value-of select="$categories"/>: <b><xsl:value-of select="count(//category)"/></b>
            <xsl:text> · </xsl:text>
            <xsl:value-of select="$cddvds"/>: <b><xsl:value-of select="count(//file-structure) + count(//audio-details)"/></b>
            <xsl:text> · </xsl:text>
            <xsl:value-of select="$audiotracks"/>: <b><xsl:value-of select="count(//track-item)"/></b>
            <xsl:if test="$summary != ''"><br/><xsl:value-of select="$summary"/></xsl:if>
          </div>
        </xsl:if>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="category">
    <section class="category">
      <h2><xsl:value-of select="@name"/></h2>
      <div class="facts">
        <xsl:if test="substring($fields_category, 2, 1) = '1' and creation-date">
          <span><xsl:value-of select="$Creationdate"/>: <b><xsl:value-of select="creation-date"/></b></span>
        </xsl:if>
        <xsl:if test="substring($fields_category, 3, 1) = '1'">
          <span><xsl:value-of select="$cddvds"/>: <b><xsl:value-of select="cddvd-number"/></b></span>
        </xsl:if>
        <xsl:if test="substring($fields_category, 4, 1) = '1' and audio-tracks != '0'">
          <span><xsl:value-of select="$audiotracks"/>: <b><xsl:value-of select="audio-tracks"/></b></span>
        </xsl:if>
        <xsl:if test="substring($fields_category, 5, 1) = '1' and price != '0.00'">
          <span><xsl:value-of select="$price"/>: <b><xsl:value-of select="price"/></b></span>
        </xsl:if>
        <xsl:if test="substring($fields_category, 6, 1) = '1' and comment">
          <span><b><xsl:value-of select="comment"/></b></span>
        </xsl:if>
      </div>
      <xsl:if test="$show_file-structure = 1">
        <xsl:apply-templates select="file-structure"/>
      </xsl:if>
      <xsl:if test="$show_audio-details = 1">
        <xsl:apply-templates select="audio-details"/>
      </xsl:if>
      <xsl:apply-templates select="category"/>
    </section>
  </xsl:template>

  <xsl:template match="file-structure">
    <article class="item">
      <header>
        <xsl:if test="$showCover_filepart != 0 and cover-image">
          <img class="cover" alt="" src="{cover-image/@src}"/>
        </xsl:if>
        <div>
          <h3><xsl:value-of select="@cd-name"/>
            <xsl:if test="substring($fields_file-structure, 2, 1) = '1'">
              <span class="kind"><xsl:value-of select="media-type"/></span>
            </xsl:if>
          </h3>
          <div class="facts">
            <xsl:if test="substring($fields_file-structure, 6, 1) = '1' and location">
              <span><xsl:value-of select="$location"/>: <b><xsl:value-of select="location"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_file-structure, 3, 1) = '1' and cd-capacity and cd-capacity != '0'">
              <span><xsl:value-of select="$capacity"/>: <b><xsl:value-of select="cd-capacity"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_file-structure, 4, 1) = '1' and recording-depth">
              <span><xsl:value-of select="$recdepth"/>: <b><xsl:value-of select="recording-depth"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_file-structure, 7, 1) = '1' and tracks and tracks != '0'">
              <span><xsl:value-of select="$tracks"/>: <b><xsl:value-of select="tracks"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_file-structure, 8, 1) = '1' and price">
              <span><xsl:value-of select="$price"/>: <b><xsl:value-of select="price"/></b></span>
            </xsl:if>
            <xsl:if test="creation-date">
              <span><xsl:value-of select="$Creationdate"/>: <b><xsl:value-of select="creation-date"/></b></span>
            </xsl:if>
            <xsl:if test="files">
              <!-- "%s files, %s folders" in the page's language -->
              <xsl:variable name="after" select="substring-after($filesfolders, '%s')"/>
              <span><xsl:value-of select="substring-before($filesfolders, '%s')"/><b><xsl:value-of select="files"/></b><xsl:value-of select="substring-before($after, '%s')"/><b><xsl:value-of select="folders"/></b><xsl:value-of select="substring-after($after, '%s')"/></span>
            </xsl:if>
          </div>
          <xsl:if test="substring($fields_file-structure, 5, 1) = '1' and comment">
            <div><xsl:value-of select="comment"/></div>
          </xsl:if>
        </div>
      </header>
      <xsl:if test="$show_file-items = 1 and (file-items or (@piece and not(files = '0' and folders = '0')))">
        <table class="files">
          <thead>
            <tr>
              <th><xsl:value-of select="$colname"/></th>
              <xsl:if test="substring($fields_file-items, 2, 1) = '1'"><th class="num"><xsl:value-of select="$filesize"/></th></xsl:if>
              <xsl:if test="substring($fields_file-items, 3, 1) = '1'"><th class="num"><xsl:value-of select="$colmodified"/></th></xsl:if>
            </tr>
          </thead>
          <tbody>
            <xsl:apply-templates select="file-items">
              <xsl:with-param name="depth" select="0"/>
            </xsl:apply-templates>
            <xsl:call-template name="piece"/>
          </tbody>
        </table>
      </xsl:if>
    </article>
  </xsl:template>

  <xsl:template match="file-items">
    <xsl:param name="depth" select="0"/>
    <tr class="{@type}">
      <td class="name">
        <span class="indent" style="width: {$depth * 1.5}em"/>
        <span class="fname"><xsl:value-of select="file-name"/></span>
        <xsl:if test="substring($fields_file-items, 4, 1) = '1' and properties">
          <div class="props" style="margin-left: {$depth * 1.5}em">
            <xsl:for-each select="properties/property">
              <span><xsl:value-of select="@label"/><xsl:if test="not(@label)"><xsl:value-of select="@name"/></xsl:if>: <xsl:value-of select="."/></span>
            </xsl:for-each>
          </div>
        </xsl:if>
      </td>
      <xsl:if test="substring($fields_file-items, 2, 1) = '1'">
        <td class="num"><xsl:value-of select="file-size/@text"/></td>
      </xsl:if>
      <xsl:if test="substring($fields_file-items, 3, 1) = '1'">
        <td class="num"><xsl:value-of select="modification-date"/></td>
      </xsl:if>
    </tr>
    <xsl:call-template name="piece"/>
    <xsl:apply-templates select="file-items">
      <xsl:with-param name="depth" select="$depth + 1"/>
    </xsl:apply-templates>
  </xsl:template>

  <xsl:template match="audio-details">
    <article class="item audio">
      <header>
        <xsl:if test="$showCover_audiopart != 0 and cover-image">
          <img class="cover" alt="" src="{cover-image/@src}"/>
        </xsl:if>
        <div>
          <h3>
            <xsl:choose>
              <xsl:when test="album and substring($fields_audio-details, 1, 1) = '1'"><xsl:value-of select="album"/></xsl:when>
              <xsl:otherwise><xsl:value-of select="@cd-name"/></xsl:otherwise>
            </xsl:choose>
            <xsl:if test="substring($fields_audio-details, 5, 1) = '1'">
              <span class="kind"><xsl:value-of select="cd-type"/></span>
            </xsl:if>
          </h3>
          <div class="facts">
            <xsl:if test="substring($fields_audio-details, 2, 1) = '1' and artist">
              <span><xsl:value-of select="$artist"/>: <b><xsl:value-of select="artist"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 3, 1) = '1' and genre">
              <span><xsl:value-of select="$genre"/>: <b><xsl:value-of select="genre"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 4, 1) = '1' and year">
              <span><xsl:value-of select="$year"/>: <b><xsl:value-of select="year"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 6, 1) = '1' and tracks">
              <span><xsl:value-of select="$tracks"/>: <b><xsl:value-of select="tracks"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 7, 1) = '1' and length">
              <span><xsl:value-of select="$length"/>: <b><xsl:value-of select="length/@text"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 8, 1) = '1' and catalog-number">
              <span><xsl:value-of select="$catlognbr"/>: <b><xsl:value-of select="catalog-number"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 9, 1) = '1' and price">
              <span><xsl:value-of select="$price"/>: <b><xsl:value-of select="price"/></b></span>
            </xsl:if>
            <xsl:if test="substring($fields_audio-details, 10, 1) = '1' and location">
              <span><xsl:value-of select="$location"/>: <b><xsl:value-of select="location"/></b></span>
            </xsl:if>
          </div>
        </div>
      </header>
      <xsl:if test="$show_track-item = 1 and track-item">
        <table>
          <thead>
            <tr>
              <th class="num">#</th>
              <th><xsl:value-of select="$trackinfo"/></th>
              <xsl:if test="substring($fields_track-item, 4, 1) = '1'"><th><xsl:value-of select="$performer"/></th></xsl:if>
              <xsl:if test="substring($fields_track-item, 5, 1) = '1'"><th><xsl:value-of select="$composer"/></th></xsl:if>
              <xsl:if test="substring($fields_track-item, 6, 1) = '1'"><th><xsl:value-of select="$swriter"/></th></xsl:if>
              <xsl:if test="substring($fields_track-item, 3, 1) = '1'"><th><xsl:value-of select="$isrc"/></th></xsl:if>
              <xsl:if test="substring($fields_track-item, 2, 1) = '1'"><th class="num"><xsl:value-of select="$length"/></th></xsl:if>
            </tr>
          </thead>
          <tbody>
            <xsl:apply-templates select="track-item"/>
          </tbody>
        </table>
      </xsl:if>
    </article>
  </xsl:template>

  <xsl:template match="track-item">
    <tr>
      <td class="num"><xsl:value-of select="position()"/></td>
      <td class="name"><xsl:value-of select="track-name"/></td>
      <xsl:if test="substring($fields_track-item, 4, 1) = '1'"><td><xsl:value-of select="track-performer"/></td></xsl:if>
      <xsl:if test="substring($fields_track-item, 5, 1) = '1'"><td><xsl:value-of select="track-composer"/></td></xsl:if>
      <xsl:if test="substring($fields_track-item, 6, 1) = '1'"><td><xsl:value-of select="track-songwriter"/></td></xsl:if>
      <xsl:if test="substring($fields_track-item, 3, 1) = '1'"><td><xsl:value-of select="track-ISRC"/></td></xsl:if>
      <xsl:if test="substring($fields_track-item, 2, 1) = '1'"><td class="num"><xsl:value-of select="track-length/@text"/></td></xsl:if>
    </tr>
  </xsl:template>
</xsl:stylesheet>
