// tarvik-dissector TEMPLATE OUTPUT: the Wireshark dissector, its template filled with the
// protocol facts of the parameter table (names, stages, codes, channels, reply layouts, drop-down
// bases and entry counts), so that a parameter added to the table appears in it unasked.
#include "link/catalogue.h"
#include "tarvik_version.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using tarvik::Layout;

const char* layoutName(Layout layout)
{
    switch (layout) {
    case Layout::Digit:
        return "Digit";
    case Layout::ZeroDigit:
        return "ZeroDigit";
    case Layout::Number4:
        return "Number4";
    case Layout::Number5:
        return "Number5";
    case Layout::Address:
        return "Address";
    }
    return "";
}

// Where a read reply of each layout holds its value (byte offsets from the datagram's start).
std::string layoutsTable()
{
    std::ostringstream out;
    out << "local layouts = {\n";
    for (Layout layout : {Layout::Digit, Layout::ZeroDigit, Layout::Number4, Layout::Number5, Layout::Address}) {
        out << "    " << layoutName(layout) << " = { ";
        switch (layout) {
        case Layout::Digit:
            out << "first = 7, last = 7";
            break;
        case Layout::ZeroDigit:
            out << "first = 6, last = 7";
            break;
        case Layout::Number4:
            out << "first = 7, last = 10";
            break;
        case Layout::Number5:
            out << "first = 6, last = 10";
            break;
        case Layout::Address:
            out << "first = 6, last = 20, groups = { 6, 10, 14, 18 }";
            break;
        }
        out << " },\n";
    }
    out << "}\n";
    return out.str();
}

std::string parametersTable()
{
    std::ostringstream out;
    out << "-- The module's parameters in read order: read stage, command code and channel digit, the\n"
           "-- layout of its read reply, and for a drop-down the value character of its first entry and\n"
           "-- the number of entries.\n"
           "local parameters = {\n";
    for (const tarvik::Parameter& p : tarvik::kParameters) {
        out << "    { name = \"" << p.name << "\", stage = " << p.stage << ", code = \"" << p.code << "\", channel = \""
            << (p.channel ? std::string(1, p.channel) : std::string()) << "\", layout = \"" << layoutName(p.layout)
            << "\", base = \"" << (p.base ? std::string(1, p.base) : std::string())
            << "\", entries = " << p.entries.count << " },\n";
    }
    out << "}\n";
    return out.str();
}

void replace(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::cerr << "usage: tarvik-dissector TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "tarvik-dissector: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ostringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    replace(text, "@TARVIK_TABLE@", parametersTable() + "\n" + layoutsTable());
    replace(text, "@TARVIK_VERSION@", "Tarvik " TARVIK_VERSION);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "tarvik-dissector: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
