// Full read and full write of one simulated module: the tool (its real window, offscreen, and its
// real endpoint) against the floor, a minimal client without any GUI that sends the same 28
// queries and the same 28 settings to the same tarvik-sim process, each after the reply to the one
// before, taking whatever datagram arrives next as the reply. The floor runs in a process of its
// own (this program, with "floor" and the frames as arguments), so that nothing the window left
// behind (its painting, its font caches) can disturb it.
// Opens the tool's port: runs only in a private network namespace.
#include "app/mainform.h"
#include "floor.h"
#include "link/frames.h"
#include "stats.h"
#include "support/netns.h"
#include "support/simbed.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string_view>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

const QString kReadDone = QStringLiteral("读取设备 1数据成功！");
const QString kWriteDone = QStringLiteral("设置设备 1数据成功，请重新读取设备参数以检查参数的设置是否正确。");

// Runs the event loop, as the tool's main() does (blocking until something happens), until `done`:
// checked whenever `wake` quits the loop and every 5 ms; at most `timeoutMs`.
template <typename Done> bool spin(QEventLoop& loop, Done done, int timeoutMs = 10000)
{
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    while (!done() && deadline.isActive())
        loop.exec();
    return done();
}

// The tool: scans once, then times `rounds` reads and writes from the click to the success entry.
struct ToolResult
{
    std::vector<double> readMs;
    std::vector<double> writeMs;
    QByteArray identity;
    QList<QByteArray> settings; // the 28 settings as the tool builds them
};

void runTool(int rounds, ToolResult& result)
{
    MainForm form;
    // TARVIK_BENCH_HIDDEN=1 leaves the window unshown: the same run without any painting.
    if (!qEnvironmentVariableIsSet("TARVIK_BENCH_HIDDEN"))
        form.show();
    if (!form.endpoint().isBound())
        qFatal("port 65002 is not free");
    Operations& ops = form.operations();
    auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("Help_Text"));
    auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
    qint64 finished = 0;
    QString awaited;
    QEventLoop loop;
    QObject::connect(log, &QPlainTextEdit::textChanged, log, [&] {
        if (!finished && !awaited.isEmpty() && log->document()->lastBlock().text() == awaited) {
            finished = nowNs();
            loop.quit();
        }
    });

    ops.Scan_Click();
    if (!spin(loop, [&] { return ops.state().Scan_Round == 0 && ops.state().Device_Count == 1; }))
        qFatal("the scan did not find the module");
    {
        // Selected without a pick (which would start a read): each round below picks it.
        const QSignalBlocker noPick(list);
        list->setCurrentRow(0);
    }
    result.identity = ops.state().Device_Table[0].identity;

    for (int i = 0; i < rounds; ++i) {
        awaited = kReadDone;
        finished = 0;
        const qint64 t0 = nowNs();
        ops.pickDevice();
        if (!spin(loop, [&] { return finished != 0; }))
            qFatal("the read did not complete");
        result.readMs.push_back(static_cast<double>(finished - t0) / 1e6);

        awaited = kWriteDone;
        finished = 0;
        const qint64 t1 = nowNs();
        ops.Setting_Click();
        if (!spin(loop, [&] { return finished != 0; }))
            qFatal("the write did not complete");
        result.writeMs.push_back(static_cast<double>(finished - t1) / 1e6);
    }

    result.settings.clear();
    for (const Parameter& p : kParameters) {
        frames::FieldValue value;
        if (p.isDropDown())
            value.index = static_cast<QComboBox*>(form.field(fieldOf(p)))->currentIndex();
        else
            value.text = static_cast<QLineEdit*>(form.field(fieldOf(p)))->text();
        result.settings << *frames::setting(result.identity, p, value);
    }
}

// The floor's side: argv = program "floor" ROUNDS IDENTITY SETTING... (hex); prints one line per
// exchange of 28 frames: "read MS" or "write MS".
int runFloor(int argc, char* argv[])
{
    const int rounds = std::atoi(argv[2]);
    const QByteArray identity = QByteArray::fromHex(argv[3]);
    QList<QByteArray> queries, settings;
    for (const Parameter& p : kParameters)
        queries << frames::query(identity, p);
    for (int i = 4; i < argc; ++i)
        settings << QByteArray::fromHex(argv[i]);
    Floor floor;
    // A fresh process: its first exchanges fault its pages in and wake the processor up. Not timed.
    for (int i = 0; i < 3; ++i) {
        floor.exchange(queries);
        floor.exchange(settings);
    }
    for (int i = 0; i < rounds; ++i) {
        std::printf("read %.6f\n", floor.exchange(queries));
        std::printf("write %.6f\n", floor.exchange(settings));
    }
    return 0;
}

void floorBlock(const ToolResult& tool, int rounds, std::vector<double>& reads, std::vector<double>& writes)
{
    QStringList arguments{QStringLiteral("floor"), QString::number(rounds), QString::fromLatin1(tool.identity.toHex())};
    for (const QByteArray& setting : tool.settings)
        arguments << QString::fromLatin1(setting.toHex());
    QProcess floor;
    floor.start(QCoreApplication::applicationFilePath(), arguments);
    if (!floor.waitForFinished(60000) || floor.exitCode() != 0)
        qFatal("the floor client failed: %s", floor.readAllStandardError().constData());
    for (const QByteArray& line : floor.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            (parts[0] == "read" ? reads : writes).push_back(parts[1].toDouble());
    }
}

} // namespace

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    if (argc > 3 && std::string_view(argv[1]) == "floor")
        return runFloor(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int blocks = argc > 1 ? std::atoi(argv[1]) : 5;
    const int perBlock = argc > 2 ? std::atoi(argv[2]) : 10;
    std::printf("bench_readwrite: %d blocks of %d reads and writes, tool and floor alternating\n", blocks, perBlock);

    tarvik::test::SimProcess sim({QStringLiteral("--quiet")});
    if (!sim.start())
        qFatal("%s", qPrintable(sim.error()));

    // The machine's pace drifts (other load, the processor's clock): each block's tool and floor ran
    // one right after the other, and the ratio of their medians is taken block by block.
    std::vector<double> toolRead, toolWrite, floorRead, floorWrite, readRatios, writeRatios;
    int disturbed = 0;
    for (int b = 0; b < blocks; ++b) {
        ToolResult tool;
        runTool(perBlock, tool);
        toolRead.insert(toolRead.end(), tool.readMs.begin(), tool.readMs.end());
        toolWrite.insert(toolWrite.end(), tool.writeMs.begin(), tool.writeMs.end());

        // Three times as many floor exchanges as the tool's: a floor disturbed for a moment would
        // make a tool look faster than the bare socket.
        std::vector<double> reads, writes;
        floorBlock(tool, 3 * perBlock, reads, writes);
        floorRead.insert(floorRead.end(), reads.begin(), reads.end());
        floorWrite.insert(floorWrite.end(), writes.begin(), writes.end());
        // The floor does what the tool does and nothing more: a block where it came out slower than
        // the tool was disturbed (the machine gave its time to something else) and says nothing.
        const double readRatio = summarize(tool.readMs).median / summarize(reads).median;
        const double writeRatio = summarize(tool.writeMs).median / summarize(writes).median;
        if (readRatio < 1 || writeRatio < 1) {
            ++disturbed;
            continue;
        }
        readRatios.push_back(readRatio);
        writeRatios.push_back(writeRatio);
    }
    const Summary tr = summarize(toolRead), fr = summarize(floorRead);
    const Summary tw = summarize(toolWrite), fw = summarize(floorWrite);
    printRow("full read, the tool (click -> success entry)", tr, "ms");
    printRow("full read, the floor client", fr, "ms");
    printRow("full write, the tool (click -> success entry)", tw, "ms");
    printRow("full write, the floor client", fw, "ms");
    // Only medians are compared: the worst of either side is a moment the machine gave to something
    // else, and a ratio of two such moments says nothing.
    if (readRatios.empty()) {
        std::printf("ratio tool/floor: every block was disturbed (a busy machine); run again on a quiet one\n");
        return 1;
    }
    const Summary rr = summarize(readRatios), wr = summarize(writeRatios);
    const auto [lowRead, highRead] = std::minmax_element(readRatios.begin(), readRatios.end());
    const auto [lowWrite, highWrite] = std::minmax_element(writeRatios.begin(), writeRatios.end());
    std::printf("ratio tool/floor, median of the %d blocks' ratios: read %.2f (blocks %.2f-%.2f), write %.2f "
                "(blocks %.2f-%.2f); %d disturbed blocks left out\n",
                static_cast<int>(readRatios.size()), rr.median, *lowRead, *highRead, wr.median, *lowWrite, *highWrite,
                disturbed);
    return 0;
}
