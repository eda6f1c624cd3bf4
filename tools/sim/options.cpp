#include "options.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace tarvik::sim {

namespace {

const char* const kDescription =
    "Simulated Tarvik serial-to-Ethernet modules for the configuration tool.\n"
    "\n"
    "Listens on UDP port 65000 as one or more modules and answers the tool as a module does:\n"
    "\"SETUP\" gets the discovery reply (identity, own address, firmware version) and puts the module\n"
    "into configuration; then the module takes queries, settings, ATDF (factory values) and END\n"
    "(reset: it leaves configuration and answers only \"SETUP\" again). Six 0xFF bytes and END reset\n"
    "every module. Replies go by broadcast to 255.255.255.255:65002, so the tool may sit in another\n"
    "subnet. Every datagram received and sent is printed as one line: time, direction, length, hex and\n"
    "printable ASCII.\n"
    "\n"
    "Faults (for tests; each option may be given several times and applies to every module of\n"
    "this process -- start a second process for a module that behaves differently). WHICH is:\n"
    "  all            every datagram the module takes\n"
    "  N              the N-th datagram the module takes (1-based, SETUP and commands alike)\n"
    "  KEY            SETUP, END, DF (defaults), AT (malformed command), a code (ET, PT1: query\n"
    "                 and setting), CODE? (query only), CODE= (setting only), * (every command),\n"
    "                 *? (every query), *= (every setting)\n"
    "  KEY#K          only the K-th request with that key\n"
    "\n"
    "The module refuses a setting it cannot take (answers \"ER\"): digit values out of range, numbers\n"
    "that are not 1-5 digits or too large, addresses that are not four numbers 0-255.\n"
    "\n"
    "Only inside a private network namespace unless --any-network is given.\n";

QString kindText(const Command& command)
{
    switch (command.kind) {
    case Kind::Digit:
        return QStringLiteral("digit %1-%2").arg(command.min).arg(command.max);
    case Kind::Number:
        return QStringLiteral("number 0-%1").arg(command.max);
    case Kind::Address:
        return QStringLiteral("address");
    }
    return {};
}

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption count{QStringLiteral("count"), QStringLiteral("Number of modules (1-254, default 1)."),
                             QStringLiteral("n"), QStringLiteral("1")};
    QCommandLineOption id{QStringLiteral("id"),
                          QStringLiteral("Identity of the next module, 12 hex digits (repeatable)."),
                          QStringLiteral("hex")};
    QCommandLineOption firstId{QStringLiteral("first-id"),
                               QStringLiteral("Identity of module 1 when --id is not given; module i gets it plus "
                                              "i-1 (default 001A2B3C4D5E)."),
                               QStringLiteral("hex"), QStringLiteral("001A2B3C4D5E")};
    QCommandLineOption port{QStringLiteral("port"), QStringLiteral("UDP port to listen on (default 65000)."),
                            QStringLiteral("port"), QStringLiteral("65000")};
    QCommandLineOption replyTo{QStringLiteral("reply-to"),
                               QStringLiteral("Address replies go to (default 255.255.255.255)."),
                               QStringLiteral("address"), QStringLiteral("255.255.255.255")};
    QCommandLineOption replyPort{QStringLiteral("reply-port"), QStringLiteral("Port replies go to (default 65002)."),
                                 QStringLiteral("port"), QStringLiteral("65002")};
    QCommandLineOption quiet{QStringLiteral("quiet"),
                             QStringLiteral("Print only the start-up lines, not the datagrams.")};
    QCommandLineOption anyNetwork{QStringLiteral("any-network"),
                                  QStringLiteral("Run also outside a private network namespace.")};
    QCommandLineOption silent{QStringLiteral("silent"), QStringLiteral("Never answer anything.")};
    QCommandLineOption noIdentity{QStringLiteral("no-identity"),
                                  QStringLiteral("Answer commands with six zero bytes where the identity belongs "
                                                 "(the discovery reply keeps it).")};
    QCommandLineOption drop{QStringLiteral("drop"), QStringLiteral("Lose the reply to WHICH."),
                            QStringLiteral("which")};
    QCommandLineOption delay{QStringLiteral("delay"),
                             QStringLiteral("Send replies MS milliseconds late (all, or those to WHICH)."),
                             QStringLiteral("ms[:which]")};
    QCommandLineOption duplicate{QStringLiteral("duplicate"), QStringLiteral("Send the reply to WHICH twice."),
                                 QStringLiteral("which")};
    QCommandLineOption truncate{QStringLiteral("truncate"),
                                QStringLiteral("Send only the first LEN bytes of replies (all, or those to WHICH)."),
                                QStringLiteral("len[:which]")};
    QCommandLineOption refuse{QStringLiteral("refuse"),
                              QStringLiteral("Answer \"ER\" to WHICH and change nothing (for example BT, DF, *=)."),
                              QStringLiteral("which")};
    QCommandLineOption loss{QStringLiteral("loss"),
                            QStringLiteral("Lose PERCENT of all replies at random (fractions allowed); the same "
                                           "SEED loses the same replies (default 1)."),
                            QStringLiteral("percent[:seed]")};
    QCommandLineOption answer{QStringLiteral("answer"),
                              QStringLiteral("Answer the query CODE (or its K-th query, CODE#K) with TEXT after the "
                                             "identity instead of the stored value; \\xHH for any byte "
                                             "(for example ET=06, PT1=0/080, UP=12)."),
                              QStringLiteral("code=text")};

    Parser()
    {
        parser.setApplicationDescription(QString::fromLatin1(kDescription) + QStringLiteral("\nFactory values:\n") +
                                         factoryTable());
        parser.addHelpOption();
        parser.addVersionOption();
        for (const QCommandLineOption* option :
             {&count, &id, &firstId, &port, &replyTo, &replyPort, &quiet, &anyNetwork, &silent, &noIdentity, &drop,
              &delay, &duplicate, &truncate, &refuse, &loss, &answer})
            parser.addOption(*option);
    }
};

bool parsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

} // namespace

QString factoryTable()
{
    QString table;
    const Values values = factoryValues(0);
    for (int i = 0; i < kCommandCount; ++i) {
        const Command& command = kCommands[static_cast<size_t>(i)];
        QString shown = QString::fromLatin1(replyText(command.kind, values[static_cast<size_t>(i)]));
        if (i == 2)
            shown += QStringLiteral(" (module n: 192.168.1.100+n)");
        table += QStringLiteral("  %1 %2 %3 %4\n")
                     .arg(QString::fromLatin1(command.code), -4)
                     .arg(QString::fromLatin1(command.meaning), -31)
                     .arg(kindText(command), -14)
                     .arg(shown);
    }
    return table;
}

QString helpText()
{
    Parser p;
    return p.parser.helpText();
}

QList<QByteArray> Options::moduleIdentities() const
{
    QList<QByteArray> result = identities.mid(0, count);
    for (int i = 0; result.size() < count; ++i) {
        const QByteArray candidate = identityPlus(firstIdentity, i);
        if (!result.contains(candidate))
            result.append(candidate);
    }
    return result;
}

ParsedOptions parseOptions(const QStringList& arguments)
{
    ParsedOptions parsed;
    Parser p;
    const auto fail = [&](const QString& error) {
        parsed.outcome = ParsedOptions::Error;
        parsed.error = error;
        return parsed;
    };
    if (!p.parser.parse(arguments))
        return fail(p.parser.errorText());
    if (p.parser.isSet(QStringLiteral("help"))) {
        parsed.outcome = ParsedOptions::Help;
        return parsed;
    }
    if (p.parser.isSet(QStringLiteral("version"))) {
        parsed.outcome = ParsedOptions::Version;
        return parsed;
    }
    if (!p.parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(p.parser.positionalArguments().first()));

    Options& o = parsed.options;
    bool ok = false;
    o.count = p.parser.value(p.count).toInt(&ok);
    if (!ok || o.count < 1 || o.count > 254)
        return fail(QStringLiteral("--count must be 1 to 254"));
    for (const QString& text : p.parser.values(p.id)) {
        const std::optional<QByteArray> identity = identityFromHex(text);
        if (!identity)
            return fail(QStringLiteral("--id wants 12 hex digits: %1").arg(text));
        if (o.identities.contains(*identity))
            return fail(QStringLiteral("--id given twice: %1").arg(text));
        o.identities.append(*identity);
    }
    if (o.identities.size() > o.count)
        o.count = static_cast<int>(o.identities.size());
    const std::optional<QByteArray> first = identityFromHex(p.parser.value(p.firstId));
    if (!first)
        return fail(QStringLiteral("--first-id wants 12 hex digits: %1").arg(p.parser.value(p.firstId)));
    o.firstIdentity = *first;
    if (!parsePort(p.parser.value(p.port), &o.port))
        return fail(QStringLiteral("bad --port: %1").arg(p.parser.value(p.port)));
    if (!parsePort(p.parser.value(p.replyPort), &o.replyPort))
        return fail(QStringLiteral("bad --reply-port: %1").arg(p.parser.value(p.replyPort)));
    o.replyHost = p.parser.value(p.replyTo);
    static const QRegularExpression kIPv4(
        QStringLiteral("^(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])(\\.(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])){3}$"));
    if (!kIPv4.match(o.replyHost).hasMatch())
        return fail(QStringLiteral("--reply-to wants an IPv4 address: %1").arg(o.replyHost));
    o.quiet = p.parser.isSet(p.quiet);
    o.anyNetwork = p.parser.isSet(p.anyNetwork);
    o.faults.silent = p.parser.isSet(p.silent);
    o.noIdentity = p.parser.isSet(p.noIdentity);
    if (p.parser.isSet(p.loss)) {
        QString error;
        if (!parseLoss(p.parser.value(p.loss), &o.faults, &error))
            return fail(QStringLiteral("--loss: %1").arg(error));
    }

    const struct
    {
        const QCommandLineOption& option;
        Rule::Action action;
    } ruleOptions[] = {
        {p.drop, Rule::Drop},         {p.delay, Rule::Delay},   {p.duplicate, Rule::Duplicate},
        {p.truncate, Rule::Truncate}, {p.refuse, Rule::Refuse}, {p.answer, Rule::Answer},
    };
    for (const auto& entry : ruleOptions) {
        for (const QString& text : p.parser.values(entry.option)) {
            QString error;
            const std::optional<Rule> rule = parseRule(entry.action, text, &error);
            if (!rule)
                return fail(QStringLiteral("--%1: %2").arg(entry.option.names().first(), error));
            o.faults.rules.append(*rule);
        }
    }
    return parsed;
}

} // namespace tarvik::sim
