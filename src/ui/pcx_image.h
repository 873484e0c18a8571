#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

/**
 * Reads a monochrome PCX image: one plane of one bit per pixel, run-length encoded, as the
 * pad drivers write signatures. Qt ships no PCX reader, and this is the only kind of PCX the
 * window ever shows.
 *
 * The result is a QImage::Format_Mono image whose colours come from the first two entries of
 * the header's 16-colour palette. A null image when @p bytes are no such file or the pixel
 * data end before the last scan line.
 */
QImage readMonoPcx(const QByteArray &bytes);

/// readMonoPcx() of the file at @p path; a null image when the file cannot be read.
QImage loadMonoPcx(const QString &path);
