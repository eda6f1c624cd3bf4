// tarvik-cli doctor: why a scan finds nothing. It checks, in order, the port, the cards, the
// broadcasts and the replies of a scan, and when nothing came back, what on this system may have
// kept the replies away; one line per check, each problem with what to do.
#include "cli/command.h"
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "link/wirelog.h"
#include "ops/paramfile.h"
#include "os/diagnose.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QMap>
#include <QNetworkInterface>

namespace tarvik::cli {

namespace {

using os::Check;

// Hears what the scan sent and received, and passes everything on to the tap it replaced.
class Recorder : public wire::Tap
{
public:
    struct Heard
    {
        wire::Datagram datagram;
        QString note; // the send error, or the verdict
    };

    Recorder() : m_next(wire::tap()) { wire::setTap(this); }
    ~Recorder() override { wire::setTap(m_next); }

    void sent(const wire::Datagram& datagram, const QString& error) override
    {
        sends.append({datagram, error});
        if (m_next)
            m_next->sent(datagram, error);
    }
    void received(const wire::Datagram& datagram, const QString& verdict) override
    {
        arrivals.append({datagram, verdict});
        if (m_next)
            m_next->received(datagram, verdict);
    }

    QList<Heard> sends;
    QList<Heard> arrivals;

private:
    wire::Tap* m_next;
};

// What the scan tells a copy of an earlier discovery reply by (the module answered every SETUP).
const QString kCopy = verdict::foundAlready();
const QString kOtherCard = verdict::otherCard();

QString cardName(int index)
{
    const QString name = cards::nameOf(index);
    return name.isEmpty() ? (index == kAnyCard ? QStringLiteral("(card not known)") : QString::number(index)) : name;
}

QString plural(qsizetype n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

class Doctor
{
public:
    QList<Check> checks;
    QList<Found> modules;
    bool tried = false; // a SETUP went out

    void run(const QString& onlyCard)
    {
        Session session;
        QString cardError;
        const bool cardOk = session.useCard(onlyCard, &cardError);
        QString portError;
        const bool bound = session.open(&portError);
        port(bound);
        const QList<os::CardAddress> used = listCards(onlyCard);
        if (!cardOk)
            add(Check::Problem, QStringLiteral("cards"), cardError,
                QStringLiteral("name a usable card with --interface, or leave it out"));
        if (!bound || !cardOk) {
            const QString why = !bound ? QStringLiteral("UDP port %1 cannot be used").arg(kLocalPort)
                                       : QStringLiteral("no card to send through");
            add(Check::Unchecked, QStringLiteral("broadcast"), why);
            add(Check::Unchecked, QStringLiteral("replies"), why);
        } else {
            Recorder recorder;
            modules = session.scan();
            broadcasts(recorder.sends);
            replies(recorder.arrivals, onlyCard);
        }
        if (modules.isEmpty())
            checks.append(os::causesOfSilence(used, kLocalPort, QCoreApplication::applicationFilePath()));
    }

    int status() const
    {
        if (!tried)
            return kRefused;
        const bool problem =
            std::any_of(checks.cbegin(), checks.cend(), [](const Check& c) { return c.status == Check::Problem; });
        return problem || modules.isEmpty() ? kFailed : kOk;
    }

private:
    void add(Check::Status status, const QString& check, const QString& text, const QString& advice = {})
    {
        checks.append({status, check, text, advice});
    }

    void port(bool bound)
    {
        const QString check = QStringLiteral("port %1").arg(kLocalPort);
        if (bound) {
            add(Check::Ok, check, QStringLiteral("free; the tool can hear the modules' replies on it"));
            return;
        }
        const os::PortHolders holders = os::udpPortHolders(kLocalPort);
        QStringList who;
        for (const auto& holder : holders.seen)
            who << QStringLiteral("process %1 (%2)").arg(holder.pid).arg(holder.name);
        if (holders.unseen > 0)
            who << QStringLiteral("%1 of another user, which this user may not look at (sudo ss -uapn 'sport = :%2' "
                                  "names it)")
                       .arg(plural(holders.unseen, "program", "programs"))
                       .arg(kLocalPort);
        const QString advice = QStringLiteral("close it (the window, or a tarvik-cli still running), then run "
                                              "tarvik-cli doctor again");
        if (!who.isEmpty())
            add(Check::Problem, check, QStringLiteral("held by ") + who.join(QStringLiteral(", ")), advice);
        else
            add(Check::Problem, check,
                QStringLiteral("cannot be bound, and no program holds it%1")
                    .arg(holders.error.isEmpty() ? QString()
                                                 : QStringLiteral(" as far as can be seen (%1)").arg(holders.error)),
                QStringLiteral("see that nothing else on this PC reserves it"));
    }

    // Every card with an IPv4 address but the loopback; the usable ones the scan goes through.
    QList<os::CardAddress> listCards(const QString& onlyCard)
    {
        QList<os::CardAddress> used;
        const auto interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface& card : interfaces) {
            const auto flags = card.flags();
            QStringList addresses;
            os::CardAddress address{card.index(), card.name(), card.humanReadableName(), 0, 32};
            const auto entries = card.addressEntries();
            for (const QNetworkAddressEntry& entry : entries) {
                if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                    continue;
                addresses << QStringLiteral("%1/%2").arg(entry.ip().toString()).arg(entry.prefixLength());
                if (address.address == 0) {
                    address.address = entry.ip().toIPv4Address();
                    address.prefixLength = entry.prefixLength();
                }
            }
            if (addresses.isEmpty() || flags.testFlag(QNetworkInterface::IsLoopBack))
                continue;
            const QString check = QStringLiteral("card ") + card.humanReadableName();
            const QString where = addresses.join(QStringLiteral(", "));
            const bool chosen = onlyCard.isEmpty() || card.name() == onlyCard || card.humanReadableName() == onlyCard;
            if (!flags.testFlag(QNetworkInterface::IsUp))
                add(Check::Problem, check, QStringLiteral("down (%1)").arg(where),
                    QStringLiteral("bring it up (on Linux: ip link set %1 up), or connect it in the network settings")
                        .arg(card.name()));
            else if (!flags.testFlag(QNetworkInterface::IsRunning))
                add(Check::Problem, check, QStringLiteral("up, but without a link (%1)").arg(where),
                    QStringLiteral("check its cable, the switch and the module's power"));
            else if (!flags.testFlag(QNetworkInterface::CanBroadcast))
                add(Check::Ok, check, QStringLiteral("not used: it cannot broadcast (%1)").arg(where));
            else if (!chosen)
                add(Check::Ok, check, QStringLiteral("not used: --interface %1 (%2)").arg(onlyCard, where));
            else {
                add(Check::Ok, check, QStringLiteral("up, running, can broadcast: %1").arg(where));
                used << address;
            }
        }
        if (used.isEmpty() && onlyCard.isEmpty())
            add(Check::Problem, QStringLiteral("cards"),
                QStringLiteral("no usable card: none is up, running and able to broadcast with an IPv4 address; the "
                               "scan goes where the routing table sends it"),
                QStringLiteral("connect this PC to the modules' LAN and give that card an IPv4 address (the modules "
                               "need not be in its subnet)"));
        return used;
    }

    void broadcasts(const QList<Recorder::Heard>& sends)
    {
        // By card, in the order of the first send through it.
        struct Sends
        {
            int card;
            int sent = 0;
            int failed = 0;
            QString reason;
        };
        QList<Sends> byCard;
        for (const Recorder::Heard& heard : sends) {
            auto it = std::find_if(byCard.begin(), byCard.end(),
                                   [&](const Sends& s) { return s.card == heard.datagram.card; });
            if (it == byCard.end())
                it = byCard.insert(byCard.end(), Sends{heard.datagram.card, 0, 0, {}});
            if (heard.note.isEmpty()) {
                ++it->sent;
            } else {
                ++it->failed;
                it->reason = heard.note;
            }
        }
        for (const Sends& s : std::as_const(byCard)) {
            const QString check = QStringLiteral("broadcast ") +
                                  (s.card == kAnyCard ? QStringLiteral("(routing table)") : cardName(s.card));
            tried = tried || s.sent > 0;
            if (s.failed == 0) {
                add(Check::Ok, check, QStringLiteral("%1 sent").arg(plural(s.sent, "SETUP", "SETUPs")));
                continue;
            }
            QString advice = QStringLiteral("check the card's settings");
            if (s.reason.contains(QLatin1String("not permitted"), Qt::CaseInsensitive))
                advice = QStringLiteral("a packet filter on this PC refuses what leaves through it: let UDP to port %1 "
                                        "out (nft list ruleset, the firewall's outgoing rules)")
                             .arg(kModulePort);
            else if (s.reason.contains(QLatin1String("unreachable"), Qt::CaseInsensitive))
                advice = s.card == kAnyCard ? QStringLiteral("no route leads anywhere: connect a card with an IPv4 "
                                                             "address to the modules' LAN")
                                            : QStringLiteral("give the card an IPv4 address and bring it up");
            add(Check::Problem, check,
                QStringLiteral("SETUP could not be sent (%1 of %2): %3")
                    .arg(s.failed)
                    .arg(s.sent + s.failed)
                    .arg(s.reason),
                advice);
        }
        if (byCard.isEmpty())
            add(Check::Problem, QStringLiteral("broadcast"), QStringLiteral("nothing was sent"),
                QStringLiteral("see the lines above"));
    }

    void replies(const QList<Recorder::Heard>& arrivals, const QString& onlyCard)
    {
        if (arrivals.isEmpty()) {
            add(Check::Problem, QStringLiteral("replies"),
                QStringLiteral("nothing arrived at UDP port %1 during the scan").arg(kLocalPort),
                QStringLiteral("see that the modules are powered and cabled to this PC's LAN, then the checks "
                               "below"));
            return;
        }
        // Who sent what, by card and address; which were discovery replies, and why the others were not.
        QMap<QString, int> from;
        int discovery = 0;
        QMap<QString, QStringList> refused; // why -> "3 bytes from 10.0.0.9 on eth0", ...
        QMap<QString, int> elsewhere;       // card not in use -> datagrams
        for (const Recorder::Heard& heard : arrivals) {
            const QString card = cardName(heard.datagram.card);
            const QString sender = QHostAddress(heard.datagram.source).toString();
            from[QStringLiteral("%1 from %2").arg(card, sender)] += 1;
            if (heard.note.isEmpty() || heard.note == kCopy)
                ++discovery;
            else if (heard.note == kOtherCard)
                elsewhere[card] += 1;
            else
                refused[heard.note]
                    << QStringLiteral("%1 bytes from %2 on %3").arg(heard.datagram.payload.size()).arg(sender, card);
        }
        QStringList parts;
        for (auto it = from.cbegin(); it != from.cend(); ++it)
            parts << QStringLiteral("%1 on %2").arg(it.value()).arg(it.key());
        add(discovery > 0 ? Check::Ok : Check::Problem, QStringLiteral("replies"),
            QStringLiteral("%1 (%2); %3 from %4")
                .arg(plural(arrivals.size(), "datagram", "datagrams"), parts.join(QStringLiteral(", ")),
                     plural(discovery, "discovery reply", "discovery replies"),
                     plural(modules.size(), "module", "modules")),
            discovery > 0 ? QString() : QStringLiteral("no module answered: see the checks below"));
        for (auto it = elsewhere.cbegin(); it != elsewhere.cend(); ++it)
            add(Check::Problem, QStringLiteral("replies ") + it.key(),
                QStringLiteral("%1 came on %2, a card not in use (--interface %3): the modules' LAN is reached "
                               "through it too")
                    .arg(plural(it.value(), "datagram", "datagrams"), it.key(), onlyCard),
                QStringLiteral("leave out --interface, or use --interface %1").arg(it.key()));
        for (auto it = refused.cbegin(); it != refused.cend(); ++it)
            add(Check::Problem, QStringLiteral("replies"),
                QStringLiteral("%1 not taken for a discovery reply: %2 (%3)")
                    .arg(plural(it.value().size(), "datagram", "datagrams"), it.key(),
                         it.value().mid(0, 3).join(QStringLiteral(", ")) +
                             (it.value().size() > 3 ? QStringLiteral(", ...") : QString())),
                QStringLiteral("something else on the LAN sends to UDP port %1: tarvik-cli --trace FILE doctor "
                               "records what it sends")
                    .arg(kLocalPort));
    }
};

QString statusWord(Check::Status status)
{
    switch (status) {
    case Check::Ok:
        return QStringLiteral("ok");
    case Check::Problem:
        return QStringLiteral("problem");
    case Check::Unchecked:
        break;
    }
    return QStringLiteral("could not check");
}

} // namespace

class DoctorCommand : public Command
{
public:
    DoctorCommand()
    {
        name = QStringLiteral("doctor");
        description = QStringLiteral("Why a scan finds nothing: the port, the cards, a scan's broadcasts and "
                                     "replies, and what on this system keeps replies away; one line per check.");
        options = {option::kJson, option::kInterface};
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        if (!parser.positionalArguments().isEmpty()) {
            complain(QStringLiteral("doctor takes no arguments"));
            return kRefused;
        }
        Doctor doctor;
        doctor.run(parser.value(option::kInterface));
        const bool json = parser.isSet(option::kJson);
        QJsonArray checks;
        QJsonArray modules;
        for (const Check& check : std::as_const(doctor.checks)) {
            QJsonObject object{{QStringLiteral("check"), check.check},
                               {QStringLiteral("status"), statusWord(check.status)},
                               {QStringLiteral("text"), check.text}};
            if (!check.advice.isEmpty())
                object.insert(QStringLiteral("advice"), check.advice);
            checks.append(object);
            if (!json)
                out() << check.check << ": " << statusWord(check.status) << ": " << check.text
                      << (check.advice.isEmpty() ? QString() : QStringLiteral("; what to do: ") + check.advice)
                      << Qt::endl;
            // The modules that answered, as scan lists them, after the line about the replies.
            if (check.check == QLatin1String("replies") && modules.isEmpty()) {
                for (const Found& f : std::as_const(doctor.modules)) {
                    const QString id = paramfile::identityText(frames::identityOf(f.reply));
                    const QString card = cards::nameOf(f.card);
                    const QByteArray rest = f.reply.mid(frames::kIdentitySize);
                    const std::optional<QString> text = printable(rest);
                    QJsonObject module{{QStringLiteral("id"), id}, {QStringLiteral("interface"), card}};
                    module.insert(text ? QStringLiteral("reply") : QStringLiteral("replyHex"),
                                  text ? *text : QString::fromLatin1(rest.toHex()));
                    modules.append(module);
                    if (!json)
                        out() << "module " << id << "  " << (card.isEmpty() ? QStringLiteral("-") : card) << "  "
                              << (text ? *text : QStringLiteral("hex:") + QString::fromLatin1(rest.toHex()))
                              << Qt::endl;
                }
            }
        }
        const int status = doctor.status();
        if (json)
            printJson({{QStringLiteral("checks"), checks},
                       {QStringLiteral("modules"), modules},
                       {QStringLiteral("status"), status}});
        return status;
    }
};

TARVIK_CLI_COMMAND(DoctorCommand, 70);

} // namespace tarvik::cli
