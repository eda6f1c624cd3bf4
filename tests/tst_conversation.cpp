// The conversation with one module, on a LAN in one process: sequences of late, lost and copied
// replies, and answers that may be someone else's. Whatever happens, a read that succeeds holds
// exactly the module's values; each row says which way it ends.
#include "ops/conversation.h"
#include "ops/dispatch.h"
#include "support/fakelan.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// A front end as the window (the whole read starts again after a time-out) or tarvik-cli (the one
// request goes out again) drives its conversation.
struct Front : talk::Listener
{
    Front(FakeLan& lan, bool window) : lan(lan), window(window) {}

    frames::FieldValue valueFor(const Parameter& parameter) override
    {
        return values[static_cast<size_t>(indexOf(parameter))].value_or(frames::FieldValue());
    }
    void finished(const talk::Result& r) override { result = r; }

    talk::Plan plan(talk::Task task) const
    {
        talk::Plan p;
        p.task = task;
        p.retry = window ? talk::Retry::RestartPass : talk::Retry::RepeatExchange;
        p.order = window ? talk::tableOrder() : talk::readOrder();
        if (task == talk::Task::Defaults)
            p.readAfterDefaults = !window;
        return p;
    }
    // Runs a task to its end (or for `forMs`), on the LAN's clock.
    void run(talk::Task task, qint64 forMs = 60000)
    {
        const qint64 untilMs = lan.now() + forMs;
        result.reset();
        conversation.start(plan(task));
        lan.run([this](const QByteArray& d, int card) { conversation.arrival(d, card); },
                [this] {
                    if (conversation.expired())
                        conversation.restartPass();
                },
                untilMs);
    }

    FakeLan& lan;
    bool window;
    paramfile::Values values;
    std::optional<talk::Result> result;
    talk::Conversation conversation{lan, *this};
};

bool holdsExactly(const talk::Result& result, const FakeModule& module)
{
    for (const Parameter& p : kParameters) {
        const auto& value = result.values[static_cast<size_t>(indexOf(p))];
        const frames::FieldValue held = module.held(p);
        if (!value || value->index != held.index || value->text != held.text) {
            qWarning("%s: read %d \"%s\", holds %d \"%s\"", p.name, value ? value->index : -2,
                     value ? qPrintable(value->text) : "", held.index, qPrintable(held.text));
            return false;
        }
    }
    return true;
}

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();
    void lossyLan();
    void lateCopiesOwed_data();
    void lateCopiesOwed();
    void acknowledgementCopies_data();
    void acknowledgementCopies();
    void passesThatDoNotSettle_data();
    void passesThatDoNotSettle();
};

// Each sequence for the window's conversation and tarvik-cli's: a read that ends with the module's
// exact values, confirmed by a further pass where anything unexpected happened.
void TestConversation::sequences_data()
{
    QTest::addColumn<bool>("window");
    QTest::addColumn<QString>("script"); // the simulator's faults for the read
    QTest::addColumn<QString>("before"); // what happened just before the read
    QTest::addColumn<bool>("copies");    // every datagram arrives twice
    QTest::addColumn<int>("passes");     // read passes needed, at most
    QTest::addColumn<bool>("succeeds");  // false: a failure is right too (never a wrong value)
    for (const bool window : {true, false}) {
        const char* front = window ? "window" : "cli";
        // A copy still owed for Ch1_D_IP is taken by Ch2_D_IP's own answer (the same bytes) while
        // Ch2_D_IP is asked again; the late copy then comes while Ch3_D_IP's reply is lost.
        QTest::addRow("%s: owed copies shared by equal values", front) << window << "1000:DA1?#1 drop:DA3?#1"
                                                                       << "DA2=DA1" << false << 3 << !window;
        // A late gateway reply comes while S_IP is awaited, and S_IP's own reply is lost.
        QTest::addRow("%s: a late copy where a reply was lost", front) << window << "600:GA?#1 drop:IP?#1"
                                                                       << "" << false << 3 << true;
        // Restoring defaults answered after its time-out: the "OK" comes during the next read.
        QTest::addRow("%s: a late OK during a read", front) << window << ""
                                                            << "defaults late" << false << 2 << true;
        // The first datagram heard of the module was another PC's read reply; or its discovery
        // reply is exactly its S_IP answer.
        QTest::addRow("%s: a read reply taken for the discovery reply", front) << window << ""
                                                                               << "discovery 00" << false << 2 << true;
        QTest::addRow("%s: the discovery reply is the address reply", front) << window << ""
                                                                             << "discovery S_IP" << false << 2 << true;
        // Another PC's scan: the module's discovery reply (its address text and more) comes where
        // the gateway's reply is lost.
        QTest::addRow("%s: a discovery reply in place of a lost reply", front) << window << "discovery:GA?#1"
                                                                               << "" << false << 3 << true;
        // So too when the scan kept another PC's read reply, heard in as many rounds.
        QTest::addRow("%s: a discovery reply that tied with a read reply", front)
            << window << "discovery:GA?#1"
            << "discovery tied" << false << 3 << true;
        // The network copies one answer, to a query asked again, before it is known to copy; the
        // first request's late reply then comes while a reply of that layout is lost. Taken for
        // that reply, the late one is a wrong value that only a third pass would set right.
        QTest::addRow("%s: a lone copy while a late reply of its bytes is owed", front)
            << window << "410:ET?#1 copy:ET?#2 drop:EC?#1"
            << "ET!=EC" << false << 2 << true;
        // A reply late by more than a time-out, and the first query's late by several: both come
        // while later queries are awaited.
        QTest::addRow("%s: two late replies, one very late", front) << window << "600:DA2?#1 2000:ET?#2"
                                                                    << "" << false << 3 << true;
        QTest::addRow("%s: every datagram twice", front) << window << ""
                                                         << "" << true << 3 << true;
        // The read's very first query answered late, during a later query of its kind.
        QTest::addRow("%s: a late reply to the first query", front) << window << "409:ET?#1"
                                                                    << "ET!=EC" << false << 3 << true;
        QTest::addRow("%s: nothing goes wrong", front) << window << ""
                                                       << "" << false << 1 << true;
    }
}

void TestConversation::sequences()
{
    QFETCH(bool, window);
    QFETCH(QString, script);
    QFETCH(QString, before);
    QFETCH(bool, copies);
    QFETCH(int, passes);
    QFETCH(bool, succeeds);
    FakeLan lan;
    lan.modules.append(FakeModule::number(1));
    FakeModule& module = lan.modules.first();
    if (before == QLatin1String("DA2=DA1"))
        module.value("Ch2_D_IP") = module.value("Ch1_D_IP");
    if (before == QLatin1String("ET!=EC")) {
        module.value("Ethernet_Mode") = "03";
        module.value("Disp_Mode") = "01";
    }
    if (before == QLatin1String("discovery 00")) {
        module.value("Ethernet_Mode") = "00";
        module.discovery = module.identity + "00";
    }
    if (before == QLatin1String("discovery S_IP"))
        module.discovery = module.identity + module.value("S_IP");
    Front front(lan, window);
    Device device = Device::fromDiscovery(module.discovery, 0);
    if (before == QLatin1String("discovery tied")) {
        device.discovery = module.identity + "192.168.001.010"; // what the module held when it was read
        device.rival = module.discovery;
    }
    front.conversation.setDevice(device);
    front.conversation.setUnidentifiedAllowed(window);
    if (before == QLatin1String("defaults late")) {
        lan.rules = faults(QStringLiteral("600:DF"));
        front.run(talk::Task::Defaults, kReplyTimeoutMs * (window ? 1 : 3));
        lan.rules.clear();
    }
    lan.rules += faults(script);
    lan.copiesEverything = copies;
    front.run(talk::Task::Read);

    QVERIFY(front.result);
    QVERIFY2(front.result->ok() || !succeeds, qPrintable(QString::number(front.result->ending)));
    if (!front.result->ok())
        return;
    QVERIFY(holdsExactly(*front.result, module));
    QVERIFY2(front.result->passes <= passes, qPrintable(QString::number(front.result->passes)));
    // Nothing unexpected, nothing more than one pass: the wire of a read as it always was.
    if (passes == 1) {
        QCOMPARE(lan.sent.size(), kParameterCount);
        QCOMPARE(front.result->retries, 0);
    }
}

// Reads on a LAN that loses 2 % of the replies, one right after the other (a lost reply may still
// come while the next ones run): each ends with the module's values or a failure, and most end with
// its values.
void TestConversation::lossyLan()
{
    for (const bool window : {true, false}) {
        FakeLan lan;
        lan.modules.append(FakeModule::number(1));
        lan.lossPercent = 2;
        Front front(lan, window);
        front.conversation.setDevice(Device::fromDiscovery(lan.modules.first().discovery, 0));
        int succeeded = 0;
        constexpr int kReads = 200;
        for (int i = 0; i < kReads; ++i) {
            front.run(talk::Task::Read);
            QVERIFY(front.result);
            if (front.result->ok()) {
                QVERIFY(holdsExactly(*front.result, lan.modules.first()));
                ++succeeded;
            }
        }
        QVERIFY2(succeeded > kReads * 3 / 4, qPrintable(QString::number(succeeded)));
    }
}

// After a request was sent several times and answered once, exactly its unanswered sends may still
// bring a reply, and on a network that copies every reply twice: that many are not taken for the
// next request of its kind, and one more is; but on a network not known to copy, the first of them
// may be the answer's copy (it comes right after it), and the one more may then be a late reply. They come while the
// next request is awaited, or (but the last) while one with a shorter or a longer reply is; and so when the next
// request was answered with the same bytes before (its value alike, or an earlier read that took such a copy for it);
// and so when, before the answer, a datagram too short for the reply came that need not be its answer cut short: a
// stranger's, a late acknowledgement, or another query's reply whose bytes are not known.
void TestConversation::lateCopiesOwed_data()
{
    QTest::addColumn<int>("timeouts");    // of the request before the one awaited
    QTest::addColumn<int>("copies");      // of its answer that then come
    QTest::addColumn<bool>("copying");    // the network is known to copy datagrams
    QTest::addColumn<QString>("between"); // a query of another kind in between (empty: none)
    QTest::addColumn<bool>("alike");      // the next request was answered with these bytes before
    QTest::addColumn<QString>("before");  // a datagram too short for the reply came before the answer
    QTest::addColumn<bool>("elsewhere");  // another module is talked to after the answer, then this one
    QTest::addColumn<bool>("taken");      // the last of them is taken, as the next request's answer
    for (int timeouts = 0; timeouts <= kMaxRetries; ++timeouts) {
        for (const bool copying : {false, true}) {
            // The late replies, and on a network that copies, each with its copy and the answer's.
            const int owed = copying ? 2 * timeouts + 1 : timeouts;
            for (const QString between : {"", "Ethernet_Mode", "S_IP", "alike"}) {
                const bool alike = between == QLatin1String("alike");
                const char* net = copying ? "a network that copies" : "a network that does not";
                const QByteArray name = between.isEmpty() ? QByteArray()
                                        : alike           ? QByteArrayLiteral(", answered alike before")
                                                          : ", " + between.toLatin1() + " between";
                QTest::addRow("%d repeats, all copies, %s%s", timeouts, net, name.constData())
                    << timeouts << owed << copying << (alike ? QString() : between) << alike << QString() << false
                    << false;
                QTest::addRow("%d repeats, one copy more, %s%s", timeouts, net, name.constData())
                    << timeouts << owed + 1 << copying << (alike ? QString() : between) << alike << QString() << false
                    << (copying || timeouts == 0);
            }
            for (const char* before : {"a stranger's empty datagram", "a late OK", "an unknown one-digit reply",
                                       "a one-digit reply no request owes"})
                QTest::addRow("%d repeats, all copies, %s, %s", timeouts,
                              copying ? "a network that copies" : "a network that does not", before)
                    << timeouts << owed << copying << QString() << false << QString::fromLatin1(before) << false
                    << false;
            QTest::addRow("%d repeats, all copies, %s, another module in between", timeouts,
                          copying ? "a network that copies" : "a network that does not")
                << timeouts << owed << copying << QString() << false << QString() << true << false;
        }
    }
}

void TestConversation::lateCopiesOwed()
{
    QFETCH(int, timeouts);
    QFETCH(int, copies);
    QFETCH(bool, copying);
    QFETCH(QString, between);
    QFETCH(bool, alike);
    QFETCH(QString, before);
    QFETCH(bool, elsewhere);
    QFETCH(bool, taken);
    const bool stranger = before.startsWith(QLatin1String("a stranger"));
    FakeLan lan;
    lan.modules.append(FakeModule::number(1));
    FakeModule& module = lan.modules.first();
    Front front(lan, false);
    Device device = Device::fromDiscovery(module.discovery, 0);
    device.copiesSeen = copying;
    device.carriesIdentity = stranger; // the stranger's datagram is then certainly not the module's
    front.conversation.setDevice(device);
    // A port is repeated, then answered; its copies come while the next port is awaited.
    const Parameter& first = parameterOf(fieldNamed("Ch1_Port_Number"));
    const Parameter& next = parameterOf(fieldNamed("Ch2_Port_Number"));
    const QByteArray answer = module.answer(frames::query(module.identity, first));
    talk::Plan plan = front.plan(talk::Task::Read);
    if (alike) {
        // A read of it alone, answered by those bytes (and their copies) until it succeeds.
        plan.order = {&next};
        front.result.reset();
        front.conversation.start(plan);
        for (int i = 0; i < 4 && !front.result; ++i)
            front.conversation.arrival(answer, 0);
        QVERIFY(front.result && front.result->ok());
        if (copying)
            front.conversation.arrival(answer, 0); // the last answer's copy
        // What its requests may still bring is given up; what they were answered with is known.
        lan.advance(talk::Ledger::kLateReplyMs + 1);
    }
    plan.order = {&first, &next};
    if (!between.isEmpty())
        plan.order.insert(plan.order.begin() + 1, &parameterOf(fieldNamed(qPrintable(between))));
    front.conversation.start(plan);
    for (int i = 0; i < timeouts; ++i)
        front.conversation.expired();
    // An earlier setting's acknowledgement, or another query's reply, may still come; or a whole
    // reply comes that no request owes (the one its request was taken for answered by, say).
    const Parameter& digit = parameterOf(fieldNamed("Ethernet_Mode"));
    if (before == QLatin1String("a late OK"))
        front.conversation.ledger().sent({talk::Step::Setting, &digit}, lan.now());
    if (before == QLatin1String("an unknown one-digit reply"))
        front.conversation.ledger().sent({talk::Step::Query, &digit}, lan.now());
    if (stranger)
        QVERIFY(!front.conversation.arrival(QByteArray(), 0));
    else if (!before.isEmpty())
        QVERIFY(!front.conversation.arrival(module.identity + (before.endsWith(QLatin1String("OK")) ? "OK" : "05"), 0));
    QVERIFY(front.conversation.arrival(answer, 0));
    if (elsewhere) {
        // The user picks another module and comes back: the next read of this one awaits `next`.
        front.conversation.setDevice(Device::fromDiscovery(FakeModule::number(2).discovery, 0));
        front.conversation.setDevice(device);
        plan.order = {&next};
        front.conversation.start(plan);
    }
    // The other query's answer comes before the last of them, or on a network that copies, before
    // the last original: a copy comes right after the datagram it copies.
    int betweenAt = copies - 1;
    if (copying && betweenAt % 2 == 0)
        --betweenAt;
    bool tookCopy = false;
    for (int i = 0; i < copies; ++i) {
        if (!between.isEmpty() && i == betweenAt)
            QVERIFY(front.conversation.arrival(module.answer(lan.sent.last()), 0));
        tookCopy = front.conversation.arrival(answer, 0);
    }
    QCOMPARE(tookCopy, taken);
}

// Restoring defaults twice, the second right after the first was acknowledged: on a network that
// copies, the first "OK"'s copy may come first, and is not taken for the second's; unless another
// datagram of the module's came first (a copy comes right after what it copies, or not at all). On
// one that does not, an "OK" that came unasked for after the first shows that they may: the second's
// is not taken then either.
void TestConversation::acknowledgementCopies_data()
{
    QTest::addColumn<bool>("window");
    QTest::addColumn<bool>("copying");
    QTest::addColumn<bool>("otherFirst"); // another datagram of the module's came after the first "OK"
    QTest::addColumn<bool>("unasked");    // and an "OK" that no request owed
    QTest::addColumn<bool>("thenWrite");  // restored twice at once, then a write that must be read back
    QTest::addColumn<bool>("stranger");   // the module never showed its identity; another identity's "OK" comes
    for (const bool window : {true, false}) {
        for (const bool copying : {false, true}) {
            for (const bool otherFirst : {false, true})
                QTest::addRow("%s, %s%s", window ? "window" : "cli",
                              copying ? "a network that copies" : "one that does not",
                              otherFirst ? ", another datagram first" : "")
                    << window << copying << otherFirst << false << false << false;
        }
        QTest::addRow("%s, an OK unasked for", window ? "window" : "cli")
            << window << false << true << true << false << false;
        QTest::addRow("%s, an OK of another identity", window ? "window" : "cli")
            << window << false << false << false << false << true;
        // Two "OK"s for two restores may be one and its copy (a network not known to copy): the
        // other may still come, and answer the write's setting in place of its refusal.
        QTest::addRow("%s, two restores at once, then a write", window ? "window" : "cli")
            << window << false << false << false << true << false;
    }
}

void TestConversation::acknowledgementCopies()
{
    QFETCH(bool, window);
    QFETCH(bool, copying);
    QFETCH(bool, otherFirst);
    QFETCH(bool, unasked);
    QFETCH(bool, thenWrite);
    QFETCH(bool, stranger);
    FakeLan lan;
    lan.modules.append(FakeModule::number(1));
    Front front(lan, window);
    Device device = Device::fromDiscovery(lan.modules.first().discovery, 0);
    device.copiesSeen = copying;
    front.conversation.setDevice(device);
    talk::Plan plan = front.plan(talk::Task::Defaults);
    plan.readAfterDefaults = false;
    const QByteArray ok = lan.modules.first().identity + "OK";
    if (stranger) {
        front.conversation.setUnidentifiedAllowed(true);
        front.conversation.start(plan);
        QVERIFY(!front.conversation.arrival(FakeModule::number(2).identity + "OK", 0));
        return;
    }
    if (thenWrite) {
        front.conversation.start(plan);
        front.conversation.start(plan);
        QVERIFY(!front.conversation.arrival(ok, 0));
        QVERIFY(front.conversation.arrival(ok, 0));
        const Parameter& p = parameterOf(fieldNamed("Ethernet_Mode"));
        front.values[static_cast<size_t>(indexOf(p))] = lan.modules.first().held(p);
        talk::Plan write = front.plan(talk::Task::Write);
        write.order = {&p};
        front.conversation.start(write);
        QVERIFY(front.conversation.arrival(ok, 0));
        QCOMPARE(lan.sent.last(), frames::query(lan.modules.first().identity, p)); // read back
        return;
    }
    front.conversation.start(plan);
    QVERIFY(front.conversation.arrival(ok, 0));
    if (otherFirst)
        QVERIFY(!front.conversation.arrival(lan.modules.first().identity + "05", 0));
    if (unasked)
        QVERIFY(!front.conversation.arrival(ok, 0));
    front.conversation.start(plan);
    // The first datagram after the second request: the first one's copy, or the second's answer.
    QCOMPARE(front.conversation.arrival(ok, 0), (!copying || otherFirst) && !unasked);
}

// A read of one parameter in doubt (its first request went unanswered), answered in three passes
// with these bytes after the identity: no two passes settle it. A drop-down's digit out of range may
// be another query's late reply each time; the discovery reply (another PC's scan) reads as S_IP's
// address, as does S_IP's reply that another PC's read brings.
void TestConversation::passesThatDoNotSettle_data()
{
    FakeModule module = FakeModule::number(1);
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::newRow("a digit out of range twice") << "Disp_Mode" << QByteArrayList{"09", "01", "09"};
    QTest::newRow("the discovery reply, then S_IP's reply")
        << "G_IP"
        << QByteArrayList{module.value("G_IP"), module.discovery.mid(frames::kIdentitySize), module.value("S_IP")};
}

void TestConversation::passesThatDoNotSettle()
{
    QFETCH(QString, field);
    QFETCH(QByteArrayList, replies);
    FakeLan lan;
    lan.modules.append(FakeModule::number(1));
    const QByteArray identity = lan.modules.first().identity;
    Front front(lan, false);
    front.conversation.setDevice(Device::fromDiscovery(lan.modules.first().discovery, 0));
    talk::Plan plan = front.plan(talk::Task::Read);
    plan.order = {&parameterOf(fieldNamed(qPrintable(field)))};
    front.conversation.start(plan);
    front.conversation.expired();
    for (const QByteArray& reply : std::as_const(replies))
        front.conversation.arrival(identity + reply, 0);
    QVERIFY(front.result);
    QCOMPARE(front.result->ending, talk::Result::Unsettled);
}

TARVIK_TEST_MAIN(TestConversation)
#include "tst_conversation.moc"
