// Parameter files as spreadsheets save them: CSV, one row per module under a header row that names
// the columns, "id" (the module's identity) and any of the window's field names in any order. An
// empty cell is a field not named. Values as in the JSON files: a drop-down's entry text or its
// position, addresses and numbers as text. Every cell goes through the JSON files' own checks, and
// a file is taken whole or not at all.
//
// What spreadsheet programs write is read: "," or ";" between cells (as the header line has them),
// RFC 4180 quoting, CRLF or LF, UTF-8 with or without a byte-order mark, and GB18030 (GBK), which
// Excel writes on a Chinese Windows, where this build's Qt can decode it. Written files are UTF-8
// with a byte-order mark, so that Excel shows the Chinese entries.
#pragma once

#include "ops/paramfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvik::csvfile {

// Whether a path names a CSV file: its name ends with .csv, in any case.
bool isCsv(const QString& path);
// Whether this build can read GB18030 text (Qt built with ICU).
bool canDecodeGb18030();

// Reads a file's bytes; on any fault no module and a message with the line and column of the cell.
// A file without an "id" column holds one row: one set for any module.
paramfile::Result parse(const QByteArray& bytes);
// Reads a file from disk (the same size cap as the JSON files). Messages start with the file name.
paramfile::Result load(const QString& path);
// A parameter file of either form, told apart by the name: CSV for .csv, JSON otherwise.
paramfile::Result loadAny(const QString& path);

// The file for these modules: an "id" column and every field, in the window's order; a field
// without a value is an empty cell. UTF-8 with a byte-order mark, CRLF line ends.
QByteArray write(const QList<paramfile::ModuleValues>& modules);

} // namespace tarvik::csvfile
