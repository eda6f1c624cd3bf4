// The many-module engine of tarvik-cli, driven through a fake wire: the same frames as the window,
// and replies that come late, twice, too short, without identity or not at all.
#include "link/frames.h"
#include "ops/batch.h"
#include "ops/dispatch.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QSet>
#include <QTest>

using namespace tarvik;
using namespace tarvik::batch;

namespace {

// A module's answer to a frame: a query gets its value in the fixed-width form, a setting "OK".
QByteArray answer(const QByteArray& frame, const QByteArray& identity)
{
    for (const Parameter& p : kParameters) {
        if (frame != frames::query(frame.left(6), p))
            continue;
        QByteArray value;
        switch (p.layout) {
        case Layout::Digit:
        case Layout::ZeroDigit:
            value = QByteArray("0") + char(p.base + (indexOf(p) % p.entries.count));
            break;
        case Layout::Number4:
        case Layout::Number5:
            value = QByteArray::number(10000 + indexOf(p)).right(5);
            break;
        case Layout::Address:
            value = QStringLiteral("010.000.000.%1").arg(100 + indexOf(p)).toLatin1();
            break;
        }
        return identity + value;
    }
    return identity + "OK";
}

// What the engine sends and arms, and a way to answer.
struct FakeWire : Sender, Timers, Progress
{
    bool send(const QByteArray& frame, int) override
    {
        const int module = frame.at(5);
        if (module == failingModule)
            return false;
        sent << frame;
        outstanding[module] += 1;
        maxOutstanding = qMax(maxOutstanding, outstanding[module]);
        inFlight.insert(module);
        maxInFlight = qMax(maxInFlight, static_cast<int>(inFlight.size()));
        return true;
    }
    QString sendError() const override { return QStringLiteral("Network is unreachable"); }
    void arm(int job, int) override { armed.insert(job); }
    void stop(int job) override { armed.remove(job); }
    qint64 now() const override { return 0; }
    void notice(const QString& text) override { notices << text; }
    void progress(int modulesDone, int total, const std::function<QString()>& stage) override
    {
        progressed << Progressed{modulesDone, total, stage(), sent.size()};
    }
    void finished() override { done = true; }

    QList<QByteArray> sent;
    int failingModule = 0;      // its frames cannot be sent
    QMap<int, int> outstanding; // requests not yet answered, by module
    QSet<int> inFlight;
    int maxOutstanding = 0;
    int maxInFlight = 0;
    QSet<int> armed;
    QStringList notices;
    struct Progressed
    {
        int done;
        int total;
        QString stage;
        qsizetype sentBefore; // frames sent before it
    };
    QList<Progressed> progressed;
    bool done = false;
};

Job job(int n, Task task = Task::Read)
{
    Job j;
    j.module.identity = test::identity(n);
    j.task = task;
    return j;
}

// Answers the last frame sent to module n (its identity, or `as` in its place).
void reply(Engine& engine, FakeWire& wire, int n, const QByteArray& as = {}, int size = -1)
{
    for (qsizetype i = wire.sent.size() - 1; i >= 0; --i) {
        if (wire.sent[i].at(5) != n)
            continue;
        QByteArray bytes = answer(wire.sent[i], as.isNull() ? test::identity(n) : as);
        if (size >= 0)
            bytes.truncate(size);
        wire.outstanding[n] = 0;
        engine.arrival(bytes, 0);
        return;
    }
}

// Runs every module to its end, answering each request at once.
void answerAll(Engine& engine, FakeWire& wire, const QList<int>& modules)
{
    for (int guard = 0; guard < 10000 && !engine.isFinished(); ++guard) {
        for (int n : modules)
            reply(engine, wire, n);
    }
}

paramfile::Values expectedValues(int n)
{
    paramfile::Values values;
    for (const Parameter& p : kParameters) {
        const QByteArray bytes = answer(frames::query(test::identity(n), p), test::identity(n));
        frames::FieldValue v;
        if (p.isDropDown())
            v.index = bytes.at(7) - p.base;
        else if (p.layout == Layout::Address)
            v.text = QString::fromLatin1(bytes.mid(6));
        else
            v.text = QString::fromLatin1(bytes.mid(p.layout == Layout::Number4 ? 7 : 6));
        values[static_cast<size_t>(indexOf(p))] = v;
    }
    return values;
}

bool sameValues(const paramfile::Values& a, const paramfile::Values& b)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].has_value() != b[i].has_value() || (a[i] && (a[i]->index != b[i]->index || a[i]->text != b[i]->text)))
            return false;
    }
    return true;
}

int countSent(const FakeWire& wire, const QByteArray& frame)
{
    return static_cast<int>(wire.sent.count(frame));
}

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void readOrderSeparatesLayouts();
    void concurrentReadsRespectLimits();
    void lostReplyRepeatsOnlyThatExchange();
    void lateCopyIsNotTheNextAnswer_data();
    void lateCopyIsNotTheNextAnswer();
    void lostAcknowledgementIsReadBack();
    void failureNamesItsCause_data();
    void failureNamesItsCause();
    void writeIsReadBack_data();
    void writeIsReadBack();
    void identityAndStrangers_data();
    void identityAndStrangers();
    void refusedSettingEndsTheWrite();
};

// Every parameter once, and no two neighbours with replies of the same length class.
void TestBatch::readOrderSeparatesLayouts()
{
    const auto& order = readOrder();
    QCOMPARE(static_cast<int>(order.size()), kParameterCount);
    QCOMPARE(QSet<const Parameter*>(order.begin(), order.end()).size(), kParameterCount);
    const auto cls = [](const Parameter* p) { return p->isDropDown() ? 0 : p->layout == Layout::Address ? 2 : 1; };
    for (size_t i = 1; i < order.size(); ++i)
        QVERIFY2(cls(order[i]) != cls(order[i - 1]), order[i]->name);
}

void TestBatch::concurrentReadsRespectLimits()
{
    for (int limit : {0, 2}) {
        FakeWire wire;
        Engine engine(wire, wire, wire, limit);
        engine.start({job(1), job(2), job(3), job(4)});
        answerAll(engine, wire, {1, 2, 3, 4});
        QVERIFY(wire.done);
        QCOMPARE(wire.maxOutstanding, 1);
        QCOMPARE(wire.sent.size(), 4 * kParameterCount);
        // Progress after every answer: the module and the request that follows, or that it is done.
        QCOMPARE(wire.progressed.size(), 4 * kParameterCount);
        int finished = 0;
        for (const FakeWire::Progressed& p : std::as_const(wire.progressed)) {
            QCOMPARE(p.total, 4);
            if (p.stage.endsWith(QStringLiteral(" done"))) {
                QCOMPARE(p.done, ++finished);
                continue;
            }
            QVERIFY(p.sentBefore < wire.sent.size());
            const QByteArray& next = wire.sent.at(p.sentBefore);
            QCOMPARE(p.stage,
                     paramfile::identityText(next.left(6)) + QLatin1Char(' ') + test::commands({next}).first());
        }
        QCOMPARE(finished, 4);
        const QList<Outcome> outcomes = engine.outcomes();
        for (int n = 1; n <= 4; ++n) {
            QVERIFY(outcomes[n - 1].ok);
            QVERIFY(sameValues(outcomes[n - 1].values, expectedValues(n)));
        }
    }
    // With a limit of 2 the first two modules are in flight before the others start.
    FakeWire wire;
    Engine engine(wire, wire, wire, 2);
    engine.start({job(1), job(2), job(3)});
    QCOMPARE(wire.sent.size(), 2);
}

void TestBatch::lostReplyRepeatsOnlyThatExchange()
{
    FakeWire wire;
    Engine engine(wire, wire, wire);
    engine.start({job(1), job(2)});
    const QByteArray lost = frames::query(test::identity(1), parameterOf(fieldNamed("Ch1_Port_Number")));
    for (int guard = 0; guard < 1000 && !engine.isFinished(); ++guard) {
        reply(engine, wire, 2);
        const auto toModule1 =
            std::find_if(wire.sent.rbegin(), wire.sent.rend(), [](const QByteArray& f) { return f.at(5) == 1; });
        if (wire.sent.count(lost) == 1 && *toModule1 == lost) {
            engine.expired(0); // its reply is lost: the time-out repeats that query alone
            continue;
        }
        reply(engine, wire, 1);
    }
    // Then, a time-out having happened, one more pass confirms module 1's values; module 2 read once.
    QCOMPARE(countSent(wire, lost), 3);
    QCOMPARE(wire.sent.size(), 3 * kParameterCount + 1);
    QCOMPARE(engine.outcomes()[0].retries, 1 + kParameterCount);
    QCOMPARE(engine.outcomes()[1].retries, 0);
    QVERIFY(sameValues(engine.outcomes()[0].values, expectedValues(1)));
    QVERIFY(sameValues(engine.outcomes()[1].values, expectedValues(2)));
}

// A copy of the previous reply arriving in the next exchange: after a retry (two copies come,
// both answering the same query) or duplicated on the way. The read never shifts a value, and
// confirms its values by a second pass, as something unexpected happened.
void TestBatch::lateCopyIsNotTheNextAnswer_data()
{
    QTest::addColumn<bool>("retried");
    QTest::addColumn<int>("step");
    QTest::newRow("late after retry, early") << true << 1;
    QTest::newRow("late after retry, middle") << true << 13;
    QTest::newRow("duplicate, early") << false << 2;
    QTest::newRow("duplicate, last but one") << false << kParameterCount - 2;
}

void TestBatch::lateCopyIsNotTheNextAnswer()
{
    QFETCH(bool, retried);
    QFETCH(int, step);
    FakeWire wire;
    Engine engine(wire, wire, wire);
    engine.start({job(1)});
    for (int i = 0; i < step; ++i)
        reply(engine, wire, 1);
    const QByteArray previous = answer(wire.sent.last(), test::identity(1));
    if (retried)
        engine.expired(0);
    reply(engine, wire, 1);      // the answer; the engine moves on
    engine.arrival(previous, 0); // the second copy, in the next exchange
    answerAll(engine, wire, {1});
    QVERIFY(engine.outcomes()[0].ok);
    QVERIFY(sameValues(engine.outcomes()[0].values, expectedValues(1)));
    // A confirming pass; after a retry, the retry, and as the late reply may have been the answer's
    // copy: what it owes is asked again once, and a reply of its bytes right after it once.
    QVERIFY(wire.sent.size() >= 2 * kParameterCount + (retried ? 1 : 0));
    QVERIFY(wire.sent.size() <= 2 * kParameterCount + (retried ? 3 : 0));
}

// A write whose acknowledgement was lost, not late: every "OK" after it may be the late one, so
// the module is read back even without verification asked for, and the write succeeds when it
// holds every value.
void TestBatch::lostAcknowledgementIsReadBack()
{
    FakeWire wire;
    Engine engine(wire, wire, wire);
    Job write = job(1, Task::Write);
    write.values = expectedValues(1);
    write.verify = false;
    engine.start({write});
    reply(engine, wire, 1);
    engine.expired(0); // the acknowledgement of the second setting is lost
    answerAll(engine, wire, {1});
    QVERIFY(engine.outcomes()[0].ok);
    QVERIFY(engine.outcomes()[0].verified);
    QCOMPARE(wire.sent.size(), 2 * kParameterCount + 1);
}

// Module 2 fails alone, and its line says why: it answers too short (not at all, as far as the
// engine can tell), with a port that is not digits, or its requests cannot be sent.
void TestBatch::failureNamesItsCause_data()
{
    QTest::addColumn<QByteArray>("answer"); // module 2's reply from byte 6 on; empty: its true value
    QTest::addColumn<bool>("unsent");
    QTest::addColumn<QString>("error");
    QTest::newRow("silent") << QByteArray("0") << false
                            << "no reply to the query of Ethernet_Mode (ET) after 3 attempts";
    QTest::newRow("not digits") << QByteArray("0/:80") << false
                                << "Ch1_Port_Number: the module's reply is not digits where the value has them: "
                                   "020000000002302f3a3830 (hex)";
    QTest::newRow("not sent") << QByteArray() << true
                              << "the query of Ethernet_Mode (ET) could not be sent: Network is unreachable";
}

void TestBatch::failureNamesItsCause()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, unsent);
    QFETCH(QString, error);
    FakeWire wire;
    wire.failingModule = unsent ? 2 : 0;
    Engine engine(wire, wire, wire);
    engine.start({job(1), job(2), job(3)});
    const QByteArray port = frames::query(test::identity(2), parameterOf(fieldNamed("Ch1_Port_Number")));
    for (int guard = 0; guard < 1000 && !engine.isFinished(); ++guard) {
        reply(engine, wire, 1);
        reply(engine, wire, 3);
        const auto toModule2 =
            std::find_if(wire.sent.rbegin(), wire.sent.rend(), [](const QByteArray& f) { return f.at(5) == 2; });
        const bool odd =
            !answer.isEmpty() && (answer.size() < 2 || (toModule2 != wire.sent.rend() && *toModule2 == port));
        if (odd)
            engine.arrival(test::identity(2) + answer, 0);
        else if (!unsent)
            reply(engine, wire, 2);
        if (wire.armed.contains(1))
            engine.expired(1);
    }
    const QList<Outcome> outcomes = engine.outcomes();
    QVERIFY(outcomes[0].ok && outcomes[2].ok);
    QVERIFY(!outcomes[1].ok);
    QCOMPARE(outcomes[1].error, error);
}

// A write reads back what it set and compares (leading zeros aside): it succeeds only when the
// module holds every value. A duplicated "OK" that made a refused last setting look acknowledged
// is caught so. Without verification only the settings go out.
void TestBatch::writeIsReadBack_data()
{
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("port");    // written to Ch1_D_Port; the module holds 10015
    QTest::addColumn<bool>("duplicate");  // the first "OK" twice, the last setting refused
    QTest::addColumn<bool>("outOfRange"); // the read-back's baud rate is a digit no entry has
    QTest::addColumn<QString>("error");
    QTest::newRow("holds what was written") << true << "10015" << false << false << "";
    QTest::newRow("holds another value") << true << "7000" << false << false
                                         << "Ch1_D_Port: wrote 7000, module holds 10015";
    QTest::newRow("a duplicated OK, the last setting refused")
        << true << "7000" << true << false << "Ch1_D_Port: wrote 7000, module holds 10015";
    QTest::newRow("not read back") << false << "7000" << false << false << "";
    // The reason is the value out of range, not that the module holds nothing of what was written.
    QTest::newRow("read back out of range")
        << true << "10015" << false << true << "UART_BaudRate: the module answered a value out of range (3039)";
}

void TestBatch::writeIsReadBack()
{
    QFETCH(bool, verify);
    QFETCH(QString, port);
    QFETCH(bool, duplicate);
    QFETCH(bool, outOfRange);
    QFETCH(QString, error);
    FakeWire wire;
    Engine engine(wire, wire, wire);
    Job write = job(1, Task::Write);
    write.verify = verify;
    const paramfile::Values holds = expectedValues(1);
    for (const char* name : {"UART_BaudRate", "UART_TimeDeli"})
        write.values[static_cast<size_t>(fieldNamed(name))] = holds[static_cast<size_t>(fieldNamed(name))];
    const Field timeSplit = fieldNamed("UART_TimeDeli"); // the module answers 0008 to 8
    write.values[static_cast<size_t>(timeSplit)]->text =
        QString::number(write.values[static_cast<size_t>(timeSplit)]->text.toInt());
    write.values[static_cast<size_t>(fieldNamed("Ch1_D_Port"))] = frames::FieldValue{-1, port};
    engine.start({write});
    if (duplicate) {
        reply(engine, wire, 1);
        engine.arrival(test::identity(1) + "OK", 0); // taken for the second setting's
        reply(engine, wire, 1);                      // the second's own, taken for the last one's
        engine.arrival(test::identity(1) + "ER", 0); // the last one's, after the engine moved on
    }
    const QByteArray baudQuery = frames::query(test::identity(1), parameterOf(fieldNamed("UART_BaudRate")));
    for (int guard = 0; guard < 1000 && !engine.isFinished(); ++guard) {
        if (outOfRange && wire.sent.last() == baudQuery)
            engine.arrival(test::identity(1) + "09", 0);
        else
            reply(engine, wire, 1);
    }
    const Outcome outcome = engine.outcomes()[0];
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.ok, error.isEmpty());
    QCOMPARE(outcome.verified, verify && error.isEmpty());
    // The late refusal, heard while the module is read back, is something unexpected: a second pass
    // confirms what the read-back found.
    QCOMPARE(test::commands(wire.sent).count(QStringLiteral("DP1")), 1 + (verify ? 1 : 0) + (duplicate ? 1 : 0));
}

// Module 2's first query goes unanswered by it while a stranger (an identity the scan did not
// find) sends a datagram: the stranger never switches the identity check off. Only a module whose
// every attempt went without its identity is handled alone, after module 1; what it answers then
// without the check is in doubt, and a further pass (with the check on, once its identity has
// shown) settles it: it ends with its own values. Once it has shown its identity, a stranger's
// datagram is not its answer any more. A module whose replies carry zeros for its identity is read
// alone. Every repeated request counts as a retry. A datagram with its identity on another card
// than its own is no answer either.
void TestBatch::identityAndStrangers_data()
{
    const QByteArray stranger = QByteArray::fromHex("AABBCCDDEEFF");
    QTest::addColumn<int>("lost");
    QTest::addColumn<QByteArray>("strangers");
    QTest::addColumn<bool>("anonymous");
    QTest::addColumn<int>("card");      // the strangers arrive on it; module 2 answered the scan on card 2
    QTest::addColumn<bool>("afterOwn"); // alone: the stranger comes after its first own reply
    QTest::addColumn<int>("passes");    // read passes of module 2
    QTest::newRow("a lost reply, a stranger's number") << 1 << stranger + "09999" << false << 2 << false << 2;
    QTest::newRow("a lost reply, a stranger of its length") << 1 << stranger + "05" << false << 2 << false << 2;
    QTest::newRow("every attempt lost, then its own reply") << 3 << stranger + "05" << false << 2 << false << 3;
    QTest::newRow("alone, its own reply, then a stranger's") << 3 << stranger << false << 2 << true << 2;
    QTest::newRow("replies without identity") << 3 << QByteArray() << true << 2 << false << 2;
    QTest::newRow("a lost reply, its own identity on another card")
        << 1 << test::identity(2) + "01" << false << 3 << false << 2;
}

void TestBatch::identityAndStrangers()
{
    QFETCH(int, lost);
    QFETCH(QByteArray, strangers);
    QFETCH(bool, anonymous);
    QFETCH(int, card);
    QFETCH(bool, afterOwn);
    QFETCH(int, passes);
    const QByteArray zeros(6, '\0');
    const bool alone = lost > kMaxRetries;
    FakeWire wire;
    Engine engine(wire, wire, wire);
    Job second = job(2);
    second.module.card = 2;
    engine.start({job(1), second});
    for (int attempt = 0; attempt < lost; ++attempt) {
        if (anonymous)
            reply(engine, wire, 2, zeros);
        else
            engine.arrival(afterOwn ? strangers + "05" : strangers, card);
        engine.expired(1);
    }
    QCOMPARE(wire.notices.size(), alone ? 1 : 0);
    answerAll(engine, wire, {1});
    QVERIFY(engine.outcomes()[0].ok);
    if (alone && !anonymous && !afterOwn)
        engine.arrival(strangers, card); // alone, the stranger is first: taken, in doubt
    if (afterOwn) {
        reply(engine, wire, 2);
        // What would be the answer to the next query, but from the stranger, and another value.
        QByteArray forged = answer(wire.sent.last(), strangers);
        forged.back() = forged.back() == '9' ? '8' : '9';
        engine.arrival(forged, card);
    }
    for (int guard = 0; guard < 200 && !engine.isFinished(); ++guard) {
        const qsizetype sent = wire.sent.size();
        reply(engine, wire, 2, anonymous ? zeros : QByteArray());
        // Nothing asked: a confirming read waits for what earlier requests may still bring.
        if (wire.sent.size() == sent && !engine.isFinished())
            engine.expired(1);
    }
    const Outcome outcome = engine.outcomes()[1];
    QVERIFY(outcome.ok);
    QCOMPARE(outcome.alone, alone);
    QCOMPARE(outcome.carriesIdentity, !anonymous);
    QVERIFY(sameValues(outcome.values, expectedValues(2)));
    const auto sentToModule2 =
        std::count_if(wire.sent.begin(), wire.sent.end(), [](const QByteArray& f) { return f.at(5) == 2; });
    // A query answered with what its lost request's repeat brought, and whose answer was set aside as
    // that late reply, is asked again: those requests come on top.
    QVERIFY(static_cast<int>(sentToModule2) >= lost + passes * kParameterCount);
    QCOMPARE(outcome.retries, static_cast<int>(sentToModule2) - kParameterCount);
}

void TestBatch::refusedSettingEndsTheWrite()
{
    FakeWire wire;
    Engine engine(wire, wire, wire);
    Job write = job(1, Task::Write);
    const Field port = fieldNamed("Ch1_D_Port");
    write.values[static_cast<size_t>(port)] = frames::FieldValue{-1, QStringLiteral("6000")};
    write.values[static_cast<size_t>(fieldNamed("Ch2_D_Port"))] = frames::FieldValue{-1, QStringLiteral("6001")};
    engine.start({write});
    engine.arrival(test::identity(1) + "ER", 0);
    QVERIFY(engine.isFinished());
    QCOMPARE(engine.outcomes()[0].error, QStringLiteral("the module refused Ch1_D_Port = \"6000\""));
    QCOMPARE(wire.sent.size(), 1);
}

TARVIK_TEST_MAIN(TestBatch)
#include "tst_batch.moc"
