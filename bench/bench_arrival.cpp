// Cost of one arrival: from a datagram handed to the reply dispatcher to the next frame handed to
// the link; and of a scan answered by 254 modules, four replies each.
//
// Two set-ups: the operations with stand-ins for window and link (the dispatch and decoding alone),
// and the real window (offscreen) with its real endpoint, where each arrival also updates widgets
// and sends the next query on a socket. The second opens port 65002, so this program runs only in
// a private network namespace.
#include "app/mainform.h"
#include "stats.h"
#include "support/fakes.h"
#include "support/netns.h"

#include <QApplication>
#include <QListWidget>
#include <QSignalBlocker>

#include <cstdio>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

QList<QByteArray> readReplies()
{
    QList<QByteArray> replies;
    for (const Parameter& p : kParameters)
        replies << test::moduleReply(test::sampleValue(p.stage) + "\r\n");
    return replies;
}

// One read of module 1, each arrival timed; every arrival but the last sends the next query.
template <typename Pick>
void timedRead(Operations& ops, const QList<QByteArray>& replies, Pick pick, std::vector<double>& us)
{
    pick();
    for (const QByteArray& reply : replies) {
        const qint64 t0 = nowNs();
        ops.Winsock_DataArrival(reply);
        const qint64 t1 = nowNs();
        us.push_back(static_cast<double>(t1 - t0) / 1000.0);
    }
    if (ops.state().Op_Code != kLastReadStage || ops.state().Retry_Count != 0)
        qFatal("the read did not complete");
}

QList<QByteArray> scanReplies()
{
    QList<QByteArray> replies;
    for (int round = 0; round < 4; ++round) {
        for (int n = 1; n <= 254; ++n)
            replies << test::discoveryReply(n) + QByteArray(40, static_cast<char>(round));
    }
    return replies;
}

void fakes(int reads, int scans)
{
    std::printf("== stand-ins for window and link\n");
    const QList<QByteArray> replies = readReplies();
    std::vector<double> us;
    {
        test::Rig rig;
        rig.discover(1);
        rig.panel.selected = 0;
        for (int i = 0; i < reads; ++i)
            timedRead(
                rig.ops, replies, [&] { rig.ops.pickDevice(); }, us);
        if (rig.link.sent.size() != 28 * reads)
            qFatal("%d frames sent", int(rig.link.sent.size()));
    }
    printRow("read reply -> next query (fake link)", summarize(us), "us");

    const QList<QByteArray> scan = scanReplies();
    std::vector<double> totals;
    for (int i = 0; i < scans; ++i) {
        test::Rig rig;
        const qint64 t0 = nowNs();
        for (const QByteArray& reply : scan)
            rig.ops.Winsock_DataArrival(reply);
        totals.push_back(static_cast<double>(nowNs() - t0) / 1e6);
        if (rig.state.Device_Count != 254 || rig.panel.items.size() != 254)
            qFatal("scan listed %d modules", int(rig.state.Device_Count));
    }
    printRow("scan: 254 modules x 4 replies, total (fake window)", summarize(totals), "ms");
}

void window(int reads, int scans)
{
    std::printf("== the real window (offscreen) and endpoint\n");
    const QList<QByteArray> replies = readReplies();
    std::vector<double> us;
    std::vector<double> totals;
    {
        MainForm form;
        form.show();
        if (!form.endpoint().isBound())
            qFatal("port 65002 is not free");
        auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
        Operations& ops = form.operations();
        ops.Winsock_DataArrival(test::discoveryReply(1));
        {
            // Selected without a pick (which would start a read): each round below picks it.
            const QSignalBlocker noPick(list);
            list->setCurrentRow(0);
        }
        for (int i = 0; i < reads; ++i) {
            timedRead(
                ops, replies, [&] { ops.pickDevice(); }, us);
            QCoreApplication::processEvents(); // what the event loop does between reads
        }
    }
    printRow("read reply -> next query (window, socket)", summarize(us), "us");

    // After a completed read every datagram is one more reply to the last stage: it answers nothing
    // in flight and is dropped without a log entry. What a stray stream costs.
    {
        MainForm form;
        form.show();
        Operations& ops = form.operations();
        ops.Winsock_DataArrival(test::discoveryReply(1));
        {
            auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
            const QSignalBlocker noPick(list);
            list->setCurrentRow(0);
        }
        std::vector<double> none;
        timedRead(
            ops, replies, [&] { ops.pickDevice(); }, none);
        std::vector<double> stray;
        for (int i = 0; i < 3000; ++i) {
            const qint64 t0 = nowNs();
            ops.Winsock_DataArrival(replies.last());
            stray.push_back(static_cast<double>(nowNs() - t0) / 1000.0);
        }
        printRow("stray datagram after a read, dropped (window)", summarize(stray), "us");
    }

    const QList<QByteArray> scan = scanReplies();
    for (int i = 0; i < scans; ++i) {
        MainForm form;
        form.show();
        const qint64 t0 = nowNs();
        for (const QByteArray& reply : scan)
            form.operations().Winsock_DataArrival(reply);
        totals.push_back(static_cast<double>(nowNs() - t0) / 1e6);
        if (form.findChild<QListWidget*>(QStringLiteral("Device_List"))->count() != 254)
            qFatal("the window did not list 254 modules");
    }
    printRow("scan: 254 modules x 4 replies, total (window)", summarize(totals), "ms");
}

} // namespace

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reads = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    std::printf("bench_arrival: %d reads of 28 replies, 20 scans\n", reads);
    fakes(reads, 20);
    window(reads / 4, 20);
    return 0;
}
