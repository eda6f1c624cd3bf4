// Prints the parameter table and the reply layouts as JSON, for the build steps that make files
// from them (the fuzz targets' seeds): they read the table from here instead of restating it.
// Built from the headers of the link layer and the operations' entry texts alone, so that it links
// nothing that a fuzz build instruments.
#include "link/catalogue.h"
#include "link/layouts.h"
#include "ops/entries.h"

#include <cstdio>
#include <string>

namespace {

using namespace tarvik;

// A JSON string of UTF-8 text (the entries), with the few escapes JSON needs.
std::string quoted(const char* text)
{
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\')
            out += '\\';
        out += *c;
    }
    return out + '"';
}

} // namespace

int main()
{
    std::printf("{\n  \"firstStage\": %d,\n  \"lastStage\": %d,\n  \"layouts\": {\n", kFirstReadStage, kLastReadStage);
    for (int i = 0; i < kLayoutCount; ++i) {
        const LayoutRow& row = layouts::kLayouts[i];
        std::string runs;
        for (const DigitRun& run : row)
            runs += (runs.empty() ? "" : ", ") + std::to_string(run.first) + ", " + std::to_string(run.last);
        std::printf("    \"%s\": {\"dropDown\": %s, \"zeroAt\": %d, \"runs\": [%s], \"separator\": \"%s\", "
                    "\"largest\": %d, \"shortest\": %d}%s\n",
                    row.name, row.dropDown ? "true" : "false", row.zeroAt, runs.c_str(),
                    row.separator ? std::string(1, row.separator).c_str() : "", row.largest, row.shortest(),
                    i + 1 < kLayoutCount ? "," : "");
    }
    std::printf("  },\n  \"parameters\": [\n");
    for (int i = 0; i < kParameterCount; ++i) {
        const Parameter& p = kParameters[i];
        std::string entries;
        for (const char* entry : entryTexts(p))
            entries += (entries.empty() ? "" : ", ") + quoted(entry);
        std::printf("    {\"name\": \"%s\", \"stage\": %d, \"code\": \"%s%s\", \"layout\": \"%s\", \"base\": %d, "
                    "\"entries\": [%s]}%s\n",
                    p.name, p.stage, p.code, p.channel ? std::string(1, p.channel).c_str() : "",
                    layoutOf(p.layout).name, p.isDropDown() ? p.lowestDigit() : 0, entries.c_str(),
                    i + 1 < kParameterCount ? "," : "");
    }
    std::printf("  ]\n}\n");
    return 0;
}
