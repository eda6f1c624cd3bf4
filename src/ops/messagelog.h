// The three ways of writing the message log, as pure text operations.
//
// The log is one string whose lines are separated by CR LF. Every operation the user starts
// begins it anew; outcomes are appended below; a value rejected during a read replaces it bare.
#pragma once

#include <QString>

class QLocale;

namespace tarvik::log {

inline const QString kLineBreak = QStringLiteral("\r\n");

// A message of the catalogue as the user reads it: translated when a translation is installed.
QString text(const char* message);

// Current local date and time in the system locale's short form, with seconds (timestampFormat).
QString timestamp();
// The locale's short date-time format with its time given seconds when it has none, so that the
// entries of a scan and its report, a second or two apart, do not look simultaneous. The date's
// order and separators and the time's own separator stay as the locale has them.
QString timestampFormat(const QLocale& locale);

// Text of a fresh log: time stamp, CR LF, message.
QString begin(const QString& stamp, const QString& message);
// What an append adds to the old text: CR LF, time stamp, CR LF, message.
QString appendix(const QString& stamp, const QString& message);

// "message + device number + message": the number in decimal with one leading blank
// (the sign position of a non-negative number), no other separator.
QString numbered(const char* before, int number, const char* after = "");
QString numbered(const char* before, int number, const char* after, const char* secondLine);

// Lines joined by CR LF.
QString lines(std::initializer_list<const char*> parts);

} // namespace tarvik::log
