<?xml version="1.0" encoding="UTF-8"?>
<!-- The report as RTF: the stylesheet walks the report data and hands
     titles, headings, paragraphs and table rows to the format saver, whose
     functions live in the namespace "urn:rtf-object"; rtf:save() writes the
     file. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:rtf="urn:rtf-object" extension-element-prefixes="rtf">
  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:param name="dateformat" select="''"/>
  <xsl:param name="timeformat" select="''"/>
  <xsl:param name="summary" select="''"/>
  <xsl:param name="Creationdate" select="'Created'"/>
  <xsl:param name="cddvds" select="'Discs and folders'"/>
  <xsl:param name="audiotracks" select="'Audio tracks'"/>
  <xsl:param name="location" select="'Location'"/>
  <xsl:param name="filesize" select="'Size'"/>
  <xsl:param name="trackinfo" select="'Track'"/>
  <xsl:param name="performer" select="'Performer'"/>
  <xsl:param name="artist" select="'Artist'"/>
  <xsl:param name="length" select="'Length'"/>
  <xsl:param name="categories" select="'Categories'"/>

  <xsl:template match="/report">
    <xsl:value-of select="rtf:title(@title)"/>
    <xsl:value-of select="rtf:note(concat(count(//category), ' ', $categories, ' · ',
                          count(//file-structure | //audio-details), ' ', $cddvds))"/>
    <xsl:apply-templates select="category | file-structure | audio-details"/>
    <xsl:if test="$summary != ''"><xsl:value-of select="rtf:note($summary)"/></xsl:if>
    <xsl:value-of select="rtf:save()"/>
  </xsl:template>

  <xsl:template match="category">
    <xsl:value-of select="rtf:heading(1, @name)"/>
    <xsl:value-of select="rtf:note(concat($Creationdate, ': ', creation-date, ' · ', $cddvds, ': ', cddvd-number))"/>
    <xsl:if test="comment"><xsl:value-of select="rtf:paragraph(comment)"/></xsl:if>
    <xsl:apply-templates select="file-structure | audio-details"/>
    <xsl:apply-templates select="category"/>
  </xsl:template>

  <xsl:template match="file-structure">
    <xsl:value-of select="rtf:heading(2, concat(@cd-name, ' (', media-type, ')'))"/>
    <xsl:if test="location"><xsl:value-of select="rtf:note(concat($location, ': ', location))"/></xsl:if>
    <xsl:if test="comment"><xsl:value-of select="rtf:paragraph(comment)"/></xsl:if>
    <xsl:if test="file-items">
      <xsl:value-of select="rtf:row(true(), 'Name', $filesize, 'Modified')"/>
      <xsl:apply-templates select="file-items"/>
    </xsl:if>
  </xsl:template>

  <xsl:template match="file-items">
    <xsl:param name="indent" select="''"/>
    <xsl:variable name="name">
      <xsl:value-of select="concat($indent, file-name)"/>
      <xsl:if test="@type = 'folder'">/</xsl:if>
    </xsl:variable>
    <xsl:value-of select="rtf:row(false(), string($name), string(file-size/@text), string(modification-date))"/>
    <xsl:apply-templates select="file-items">
      <xsl:with-param name="indent" select="concat($indent, '    ')"/>
    </xsl:apply-templates>
  </xsl:template>

  <xsl:template match="audio-details">
    <xsl:value-of select="rtf:heading(2, concat(@cd-name, ' (', cd-type, ')'))"/>
    <xsl:if test="album or artist">
      <xsl:value-of select="rtf:note(concat(album, ' · ', $artist, ': ', artist, ' · ', $length, ': ', length/@text))"/>
    </xsl:if>
    <xsl:if test="track-item">
      <xsl:value-of select="rtf:row(true(), $trackinfo, $performer, $length)"/>
      <xsl:apply-templates select="track-item"/>
    </xsl:if>
  </xsl:template>

  <xsl:template match="track-item">
    <xsl:value-of select="rtf:row(false(), concat(position(), '. ', track-name), string(track-performer),
                          string(track-length/@text))"/>
  </xsl:template>
</xsl:stylesheet>
