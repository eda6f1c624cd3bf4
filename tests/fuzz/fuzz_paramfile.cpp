// libFuzzer target: any bytes through the parameter-file readers, the JSON one that the window's
// import and tarvik-cli share and tarvik-cli's CSV one. Each must refuse (a message, no module) or
// accept; what it accepts is written back in its own form and read again, and must give the same
// parameters.
#include "check.h"
#include "ops/csvfile.h"
#include "ops/paramfile.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarvik;

namespace {

bool sameValues(const paramfile::Values& a, const paramfile::Values& b)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].has_value() != b[i].has_value())
            return false;
        if (!a[i])
            continue;
        const Parameter& p = kParameters[i];
        if (p.isDropDown() ? a[i]->index != b[i]->index : a[i]->text != b[i]->text)
            return false;
    }
    return true;
}

using Reader = paramfile::Result (*)(const QByteArray&);
using Writer = QByteArray (*)(const QList<paramfile::ModuleValues>&);

void roundTrip(const QByteArray& bytes, Reader read, Writer write)
{
    const paramfile::Result file = read(bytes);
    if (!file.ok()) {
        CHECK(file.modules.isEmpty());
        return;
    }
    CHECK(!file.modules.isEmpty());

    // The writers key every set by identity; a set without one gets a stand-in.
    QList<paramfile::ModuleValues> modules = file.modules;
    for (paramfile::ModuleValues& module : modules) {
        CHECK(module.identity.isEmpty() || module.identity.size() == frames::kIdentitySize);
        if (module.identity.isEmpty())
            module.identity = QByteArray(frames::kIdentitySize, '\0');
        bool any = false;
        for (const auto& value : module.values)
            any = any || value.has_value();
        CHECK(any);
    }
    const paramfile::Result again = read(write(modules));
    CHECK(again.ok());
    CHECK(again.modules.size() == modules.size());
    // Sets may come in another order (JSON: by their keys' text, and the writer spells identities in
    // upper case). Matched by identity (unique).
    for (const paramfile::ModuleValues& module : modules) {
        const paramfile::Values* values = nullptr;
        for (const paramfile::ModuleValues& other : again.modules) {
            if (other.identity == module.identity)
                values = &other.values;
        }
        CHECK(values && sameValues(*values, module.values));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The bytes are not copied: the readers see the fuzzer's buffer, so a read past its end is a report.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    roundTrip(bytes, paramfile::parse, paramfile::write);
    roundTrip(bytes, csvfile::parse, csvfile::write);
    return 0;
}
