#include "audit.h"

#include <QMap>

#include <optional>

namespace tarvik::audit {

namespace {

// The port modes that listen (TCP server, the UDP modes) and those that send (TCP client, the UDP
// modes), by their position in the port-mode drop-down.
constexpr int kClosed = 0;
constexpr int kTcpServer = 1;
constexpr int kTcpClient = 2;

bool listens(int mode)
{
    return mode != kClosed && mode != kTcpClient;
}

bool sends(int mode)
{
    return mode != kClosed && mode != kTcpServer;
}

const Parameter& named(const char* name)
{
    return parameterOf(fieldNamed(name));
}

// The parameter of a channel with this command code ("SR", "PT", "DA", "DP").
const Parameter* ofChannel(char channel, const char* code)
{
    for (const Parameter& p : kParameters) {
        if (p.channel == channel && QByteArrayView(p.code) == QByteArrayView(code))
            return &p;
    }
    return nullptr;
}

QList<char> channels()
{
    QList<char> list;
    for (const Parameter& p : kParameters) {
        if (p.channel != 0 && !list.contains(p.channel))
            list << p.channel;
    }
    return list;
}

const frames::FieldValue* valueOf(const paramfile::Values& values, const Parameter& p)
{
    const auto& value = values[static_cast<size_t>(indexOf(p))];
    return value ? &*value : nullptr;
}

// An address as four numbers (the module writes them with leading zeros: 192.168.001.101).
std::optional<quint32> addressOf(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint number = part.toUInt(&ok);
        if (!ok || number > 255)
            return std::nullopt;
        address = (address << 8) | number;
    }
    return address;
}

std::optional<quint32> addressOf(const paramfile::Values& values, const Parameter& p)
{
    const frames::FieldValue* value = valueOf(values, p);
    return value ? addressOf(value->text) : std::nullopt;
}

QString addressText(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

std::optional<int> numberOf(const paramfile::Values& values, const Parameter* p)
{
    const frames::FieldValue* value = p ? valueOf(values, *p) : nullptr;
    if (!value)
        return std::nullopt;
    if (p->isDropDown())
        return value->index;
    bool ok = false;
    const int number = value->text.toInt(&ok);
    return ok ? std::optional<int>(number) : std::nullopt;
}

bool isContiguous(quint32 mask)
{
    const quint32 hosts = ~mask;
    return (hosts & (hosts + 1)) == 0;
}

int prefixLength(quint32 mask)
{
    int length = 0;
    for (quint32 bit = 0x80000000u; bit && (mask & bit); bit >>= 1)
        ++length;
    return length;
}

QString idsText(const QList<QByteArray>& ids)
{
    QStringList texts;
    for (const QByteArray& id : ids)
        texts << paramfile::identityText(id);
    return texts.join(QStringLiteral(", "));
}

Finding finding(Kind kind, const QList<QByteArray>& ids, const QStringList& fields, const QString& actual,
                const QString& what)
{
    Finding f;
    f.kind = kind;
    f.ids = ids;
    f.fields = fields;
    f.actual = actual;
    QString head = idsText(ids);
    if (!fields.isEmpty())
        head += QStringLiteral(": ") + fields.join(QStringLiteral(", "));
    f.message = head + QStringLiteral(": ") + what;
    return f;
}

QString cardNamed(const QList<Card>& cards, quint32 address)
{
    for (const Card& card : cards) {
        if (addressOf(card.address) == address)
            return card.name;
    }
    return {};
}

// The settings of one module that cannot work whatever the others hold.
void checkModule(const paramfile::ModuleValues& module, QList<Finding>& findings)
{
    const paramfile::Values& values = module.values;
    const QList<QByteArray> id{module.identity};
    const Parameter& ownParameter = named("S_IP");
    const std::optional<quint32> own = addressOf(values, ownParameter);
    const std::optional<quint32> mask = addressOf(values, named("MASK"));
    const std::optional<quint32> gateway = addressOf(values, named("G_IP"));
    const QString maskName = QString::fromLatin1(named("MASK").name);
    if (mask && !isContiguous(*mask)) {
        findings << finding(Kind::Mask, id, {maskName}, addressText(*mask),
                            QStringLiteral("%1 is not a contiguous mask").arg(addressText(*mask)));
    } else if (own && mask) {
        const quint32 network = *own & *mask;
        const QString subnet = QStringLiteral("%1/%2").arg(addressText(network)).arg(prefixLength(*mask));
        // A /31 or /32 has no network and broadcast address of its own.
        if (prefixLength(*mask) < 31 && (*own == network || *own == (network | ~*mask))) {
            findings << finding(Kind::SubnetEdge, id, {QString::fromLatin1(ownParameter.name)}, addressText(*own),
                                QStringLiteral("%1 is the %2 address of its subnet %3")
                                    .arg(addressText(*own),
                                         *own == network ? QStringLiteral("network") : QStringLiteral("broadcast"),
                                         subnet));
        }
        if (gateway && *gateway != 0 && (*gateway & *mask) != network) {
            findings << finding(Kind::Gateway, id, {QString::fromLatin1(named("G_IP").name)}, addressText(*gateway),
                                QStringLiteral("%1 is outside the module's subnet %2 (S_IP %3)")
                                    .arg(addressText(*gateway), subnet, addressText(*own)));
        }
    }

    // Channels that listen on one local port; channels that send to no other host.
    QMap<int, QStringList> listeners;
    for (const char channel : channels()) {
        const std::optional<int> mode = numberOf(values, ofChannel(channel, "SR"));
        const std::optional<int> port = numberOf(values, ofChannel(channel, "PT"));
        if (mode && port && listens(*mode))
            listeners[*port] << QString::fromLatin1(ofChannel(channel, "PT")->name);
        const Parameter* destination = ofChannel(channel, "DA");
        const std::optional<quint32> to = destination ? addressOf(values, *destination) : std::nullopt;
        if (mode && to && sends(*mode) && (*to == 0 || (own && *to == *own))) {
            const Parameter* modeParameter = ofChannel(channel, "SR");
            findings << finding(
                Kind::Destination, id, {QString::fromLatin1(destination->name)}, addressText(*to),
                QStringLiteral("%1 as the destination of a %2 channel (%3) is %4")
                    .arg(addressText(*to), paramfile::valueText(*modeParameter, *valueOf(values, *modeParameter)),
                         QString::fromLatin1(modeParameter->name),
                         *to == 0 ? QStringLiteral("no address") : QStringLiteral("the module's own address")));
        }
    }
    for (auto it = listeners.cbegin(); it != listeners.cend(); ++it) {
        if (it.value().size() > 1)
            findings << finding(Kind::SamePort, id, it.value(), QString::number(it.key()),
                                QStringLiteral("%1 channels listen on port %2").arg(it.value().size()).arg(it.key()));
    }
}

struct Holder
{
    QByteArray identity;
    bool toBeWritten = false;
};

// The modules that share an address, by address, in the order they came.
QMap<quint32, QList<Holder>> byAddress(const QList<Address>& addresses)
{
    QMap<quint32, QList<Holder>> map;
    for (const Address& a : addresses) {
        if (const std::optional<quint32> address = addressOf(a.address))
            map[*address] << Holder{a.identity, a.toBeWritten};
    }
    return map;
}

QList<QByteArray> identities(const QList<Holder>& holders)
{
    QList<QByteArray> ids;
    for (const Holder& h : holders)
        ids << h.identity;
    return ids;
}

} // namespace

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Drift:
        return QStringLiteral("drift");
    case Kind::Missing:
        return QStringLiteral("missing");
    case Kind::Unlisted:
        return QStringLiteral("unlisted");
    case Kind::SameAddress:
        return QStringLiteral("same-address");
    case Kind::PcAddress:
        return QStringLiteral("pc-address");
    case Kind::Mask:
        return QStringLiteral("mask");
    case Kind::SubnetEdge:
        return QStringLiteral("subnet-edge");
    case Kind::Gateway:
        return QStringLiteral("gateway");
    case Kind::SamePort:
        return QStringLiteral("same-port");
    case Kind::Destination:
        return QStringLiteral("destination");
    }
    return {};
}

QList<Finding> conflicts(const QList<paramfile::ModuleValues>& modules, const QList<Card>& cards)
{
    QList<Finding> findings;
    const Parameter& ownParameter = named("S_IP");
    const QString field = QString::fromLatin1(ownParameter.name);
    QList<Address> addresses;
    for (const paramfile::ModuleValues& module : modules) {
        if (const frames::FieldValue* value = valueOf(module.values, ownParameter))
            addresses << Address{module.identity, value->text, false};
    }
    const QMap<quint32, QList<Holder>> shared = byAddress(addresses);
    for (auto it = shared.cbegin(); it != shared.cend(); ++it) {
        if (it.value().size() > 1)
            findings << finding(Kind::SameAddress, identities(it.value()), {field}, addressText(it.key()),
                                QStringLiteral("%1 modules hold %2").arg(it.value().size()).arg(addressText(it.key())));
        const QString card = cardNamed(cards, it.key());
        for (const Holder& h : it.value()) {
            if (!card.isEmpty())
                findings << finding(Kind::PcAddress, {h.identity}, {field}, addressText(it.key()),
                                    QStringLiteral("%1 is this PC's address (%2)").arg(addressText(it.key()), card));
        }
    }
    for (const paramfile::ModuleValues& module : modules)
        checkModule(module, findings);
    return findings;
}

QList<Finding> drift(const QList<paramfile::ModuleValues>& modules, const paramfile::Result& plan,
                     const QList<QByteArray>& answered, bool everyModule, const QString& planName)
{
    QList<Finding> findings;
    const bool keyed = !plan.modules.isEmpty() && !plan.modules.first().identity.isEmpty();
    for (const paramfile::ModuleValues& module : modules) {
        const paramfile::Values* planned = paramfile::valuesFor(plan, module.identity);
        if (!planned) {
            if (everyModule)
                findings << finding(Kind::Unlisted, {module.identity}, {}, {},
                                    QStringLiteral("answered the scan, and %1 does not name it").arg(planName));
            continue;
        }
        for (const Parameter& p : kParameters) {
            const frames::FieldValue* want = valueOf(*planned, p);
            const frames::FieldValue* got = valueOf(module.values, p);
            if (!want || !got || paramfile::sameValue(p, *want, *got))
                continue;
            Finding f =
                finding(Kind::Drift, {module.identity}, {QString::fromLatin1(p.name)}, paramfile::valueText(p, *got),
                        QStringLiteral("commissioned %1, module holds %2")
                            .arg(paramfile::valueText(p, *want), paramfile::valueText(p, *got)));
            f.expected = paramfile::valueText(p, *want);
            findings << f;
        }
    }
    if (keyed && everyModule) {
        for (const paramfile::ModuleValues& entry : plan.modules) {
            if (!answered.contains(entry.identity))
                findings << finding(Kind::Missing, {entry.identity}, {}, {},
                                    QStringLiteral("in %1, and did not answer the scan").arg(planName));
        }
    }
    return findings;
}

QList<Finding> clashes(const QList<Address>& addresses, const QList<Card>& cards)
{
    QList<Finding> findings;
    const QString field = QString::fromLatin1(named("S_IP").name);
    const QMap<quint32, QList<Holder>> shared = byAddress(addresses);
    for (auto it = shared.cbegin(); it != shared.cend(); ++it) {
        QStringList written, held;
        for (const Holder& h : it.value())
            (h.toBeWritten ? written : held) << paramfile::identityText(h.identity);
        if (written.isEmpty())
            continue; // as it was before the write
        const QString address = addressText(it.key());
        if (it.value().size() > 1) {
            QString what = QStringLiteral("%1 to be written to %2").arg(address, written.join(QStringLiteral(", ")));
            if (!held.isEmpty())
                what += QStringLiteral(", and %1 holds it").arg(held.join(QStringLiteral(", ")));
            findings << finding(Kind::SameAddress, identities(it.value()), {field}, address, what);
        }
        const QString card = cardNamed(cards, it.key());
        for (const Holder& h : it.value()) {
            if (h.toBeWritten && !card.isEmpty())
                findings << finding(Kind::PcAddress, {h.identity}, {field}, address,
                                    QStringLiteral("%1 to be written is this PC's address (%2)").arg(address, card));
        }
    }
    return findings;
}

} // namespace tarvik::audit
