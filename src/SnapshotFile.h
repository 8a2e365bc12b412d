#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

// Snapshots of the live picture as PNG files: their names and their writing.

// "<device name>-<YYYYmmdd-HHMMSS>.png" for a picture taken at `when` (its
// local time). The device's name is made safe for a file name: path
// separators and control characters become '_', a leading '.' too (no
// hidden files), surrounding spaces go, and it is cut to 64 characters; an
// empty name gives way to `address`.
QString SnapshotFileName(const QString& deviceName, const QString& address, const QDateTime& when);

// Writes `picture` as PNG into `folder` under `fileName`, or, when a file of
// that name is already there, under the first free "<name>-2.png",
// "<name>-3.png", ...: an earlier snapshot is never overwritten. The file
// appears only once it has been written whole. True with the path written in
// `savedPath`; false with the reason in `error`.
bool SaveSnapshot(const QImage& picture, const QString& folder, const QString& fileName, QString& savedPath,
                  QString& error);
