// Decoding of the read replies: one parameter per reply, as fixed-width ASCII text.
#pragma once

#include "link/catalogue.h"

#include <QByteArray>
#include <QString>

namespace tarvik::decode {

// Decimal text of a reply byte taken as a digit: its value minus 48, so "0".."9" give themselves,
// "/" gives -1 and ":" gives 10.
QString digitText(quint8 byte);

// Number text of bytes first..last; leading zeros stay.
QString numberText(const QByteArray& reply, int first, int last);
// Address text: the address layout's groups joined by ".".
QString addressText(const QByteArray& reply);
// The text of a text field's value: the number texts of the layout's runs, joined by its separator.
QString valueText(const LayoutRow& layout, const QByteArray& reply);

struct Value
{
    // Short: the reply ends before the last byte its layout is read at, so it holds no value at
    // all; the read treats it as a reply that has not arrived.
    enum Kind
    {
        Entry,
        Text,
        Rejected,
        Short
    } kind = Rejected;
    int entry = -1; // Entry: position in the drop-down
    QString text;   // Text: the field's new text; Rejected: the value bytes as they came
};

// Decodes the reply for `parameter`; a reply too short to hold the bytes of its layout is Short,
// for drop-downs and text fields alike.
Value reply(const Parameter& parameter, const QByteArray& reply);

// The last byte offset a reply of this layout is read at.
constexpr int lastOffset(Layout layout)
{
    return layoutOf(layout).lastOffset();
}

} // namespace tarvik::decode
