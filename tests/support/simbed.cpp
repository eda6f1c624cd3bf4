#include "simbed.h"

#include "link/frames.h"
#include "ops/decode.h"
#include "ops/messagelog.h"
#include "ops/messages.h"
#include "sim/logwait.h"
#include "sim/module.h"

#include "uiutil.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QTest>

#include <QNetworkInterface>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace tarvik::test {

QString simulatorPath()
{
    return QStringLiteral(TARVIK_SIM_PATH);
}

// ---- SimProcess ---------------------------------------------------------------------------------

SimProcess::SimProcess(QStringList arguments, QObject* parent, int netns)
    : QObject(parent), m_arguments(std::move(arguments))
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setChildProcessModifier([netns] {
        // A test that crashes takes its modules with it instead of leaving them behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimProcess::readOutput);
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(int timeoutMs)
{
    m_process.start(simulatorPath(), m_arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(simulatorPath(), m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_lines.contains(QStringLiteral("ready"))) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_error = QStringLiteral("tarvik-sim %1 did not get ready: %2 %3")
                          .arg(m_arguments.join(QLatin1Char(' ')), m_lines.join(QLatin1Char('\n')),
                               QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
        m_process.waitForReadyRead(50);
        readOutput();
    }
    return true;
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void SimProcess::readOutput()
{
    m_partial += m_process.readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_partial.left(newline));
        m_partial.remove(0, newline + 1);
    }
}

int SimProcess::count(const QString& text) const
{
    int n = 0;
    for (const QString& line : m_lines) {
        if (line.contains(text))
            ++n;
    }
    return n;
}

// ---- WireTap ------------------------------------------------------------------------------------

WireTap::WireTap(QObject* parent) : QObject(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &WireTap::readPending);
}

bool WireTap::open(quint16 port, int netns)
{
    m_clock.start();
    m_port = port;
    // A socket belongs to the namespace of the thread that makes it: made in `netns`, it listens
    // there, whichever namespace this thread returns to.
    const int own = netns >= 0 ? ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC) : -1;
    if (netns >= 0 && (own < 0 || ::setns(netns, CLONE_NEWNET) != 0)) {
        if (own >= 0)
            ::close(own);
        return false;
    }
    const bool bound =
        m_socket.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    if (netns >= 0) {
        if (::setns(own, CLONE_NEWNET) != 0)
            qFatal("cannot return to the test's network namespace");
        ::close(own);
    }
    return bound;
}

void WireTap::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        m_frames.append({datagram.data(), m_clock.elapsed(), datagram.senderAddress(),
                         static_cast<quint16>(datagram.senderPort()), datagram.destinationAddress()});
    }
}

QList<QByteArray> WireTap::payloads() const
{
    QList<QByteArray> result;
    for (const Frame& frame : m_frames)
        result << frame.bytes;
    return result;
}

int WireTap::count(const QByteArray& bytes) const
{
    int n = 0;
    for (const Frame& frame : m_frames) {
        if (frame.bytes == bytes)
            ++n;
    }
    return n;
}

QList<QByteArray> WireTap::commands() const
{
    QList<QByteArray> result;
    for (const Frame& frame : m_frames)
        result << (frame.bytes == "SETUP" ? frame.bytes : frame.bytes.mid(6));
    return result;
}

int WireTap::countCommand(const QByteArray& command) const
{
    int n = 0;
    for (const QByteArray& bytes : commands()) {
        if (bytes.startsWith(command))
            ++n;
    }
    return n;
}

bool WireTap::broadcast(const QByteArray& bytes, quint16 port, bool throughLoopback)
{
    if (!throughLoopback)
        return m_socket.writeDatagram(bytes, QHostAddress::Broadcast, port) == bytes.size();
    QNetworkDatagram datagram(bytes, QHostAddress::Broadcast, port);
    datagram.setInterfaceIndex(static_cast<uint>(QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"))));
    return m_socket.writeDatagram(datagram) == bytes.size();
}

bool WireTap::sync(int timeoutMs)
{
    // Not a module's identity, not a command: the modules ignore it.
    const QByteArray marker = QByteArrayLiteral("tap-sync-") + QByteArray::number(++m_syncs);
    // Through the loopback, which reaches every listener on this port in the tap's namespace and
    // needs no route (a test's namespace may have none).
    if (!broadcast(marker, m_port, true))
        return false;
    const auto seen = [&] {
        for (const Frame& frame : m_frames) {
            if (frame.bytes == marker)
                return true;
        }
        return false;
    };
    if (!QTest::qWaitFor(seen, timeoutMs))
        return false;
    m_frames.removeIf([&](const Frame& frame) { return frame.bytes == marker; });
    return true;
}

// ---- FormDriver ---------------------------------------------------------------------------------

FormDriver::FormDriver() : m_form(std::make_unique<MainForm>())
{
    m_form->show();
    if (!QTest::qWaitForWindowExposed(m_form.get()))
        qWarning("the window was not exposed");
}

FormDriver::~FormDriver() = default;

void FormDriver::click(const char* button)
{
    tarvik::test::click(*m_form, button);
}

void FormDriver::pickDevice(int row)
{
    clickDevice(*m_form, row);
}

void FormDriver::type(Field which, const QString& text)
{
    auto* edit = qobject_cast<QLineEdit*>(m_form->field(which));
    Q_ASSERT(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void FormDriver::choose(Field which, int index)
{
    auto* box = qobject_cast<QComboBox*>(m_form->field(which));
    Q_ASSERT(box);
    box->setCurrentIndex(index);
}

void FormDriver::closeWindow()
{
    m_form->close();
}

QString FormDriver::log() const
{
    return child<QPlainTextEdit>(*m_form, "Help_Text")->toPlainText();
}

QStringList FormDriver::logLines() const
{
    return tarvik::test::logLines(*m_form);
}

QStringList FormDriver::deviceItems() const
{
    QStringList items;
    auto* list = child<QListWidget>(*m_form, "Device_List");
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

bool FormDriver::isEnabled(const char* control) const
{
    return child<QWidget>(*m_form, control)->isEnabled();
}

QString FormDriver::value(Field which) const
{
    QWidget* widget = m_form->field(which);
    if (auto* box = qobject_cast<QComboBox*>(widget))
        return QString::number(box->currentIndex());
    return qobject_cast<QLineEdit*>(widget)->text();
}

// ---- Bed --------------------------------------------------------------------------------------

Bed::Bed() = default;

Bed::~Bed()
{
    // The window first: it must not outlive the modules' output it is compared with.
    m_ui.reset();
    m_sims.clear();
    m_wire.reset();
}

bool Bed::open()
{
    m_wire = std::make_unique<WireTap>();
    if (!m_wire->open(kModulePort))
        return false;
    m_ui = std::make_unique<FormDriver>();
    return true;
}

SimProcess* Bed::startSim(const QStringList& arguments, int netns)
{
    auto sim = std::make_unique<SimProcess>(arguments, nullptr, netns);
    if (!sim->start()) {
        qWarning("%s", qPrintable(sim->error()));
        return nullptr;
    }
    m_sims.push_back(std::move(sim));
    return m_sims.back().get();
}

SimProcess& Bed::sim(int i)
{
    auto it = m_sims.begin();
    std::advance(it, i);
    return **it;
}

bool Bed::waitForLastLine(const QString& line, int timeoutMs)
{
    const bool seen = waitForLastLogLine(m_ui->form(), line, timeoutMs);
    if (!seen)
        qWarning("waited for the log line %s; the log is:\n%s", qPrintable(line), qPrintable(m_ui->log()));
    // What the tool sent before it wrote the line is on record before the test looks at it.
    if (!m_wire->sync()) {
        qWarning("the wire listener did not catch up");
        return false;
    }
    return seen;
}

bool Bed::scan(int devices)
{
    m_ui->click("Scan");
    // In the window's language: the scan report as the log writes it.
    const QString report =
        devices == 0 ? log::text(msg::kNoDeviceAdvice) : log::numbered(msg::kDetected, devices, msg::kDevicesSuffix);
    return waitForLastLine(report);
}

bool Bed::read(int row)
{
    m_ui->pickDevice(row);
    return waitForLastLine(QStringLiteral("读取设备 %1数据成功！").arg(row + 1));
}

// ---- Expectations -------------------------------------------------------------------------------

QList<FieldValue> factoryFields(int module)
{
    // What the module holds, as the tool decodes its replies (tst_sim compares the two tables).
    sim::Module held(QByteArray(sim::kIdentitySize, '\x01'), module);
    held.handle(QByteArrayLiteral("SETUP"));
    QList<FieldValue> fields;
    for (const Parameter& p : kParameters) {
        const std::optional<QByteArray> reply = held.handle(frames::query(held.identity(), p));
        const decode::Value value = decode::reply(p, reply.value_or(QByteArray()));
        fields << FieldValue{fieldOf(p),
                             value.kind == decode::Value::Entry ? QString::number(value.entry) : value.text};
    }
    return fields;
}

QList<FieldValue> otherFields()
{
    QList<FieldValue> fields = factoryFields(0);
    for (FieldValue& field : fields) {
        const Parameter& p = parameterOf(field.field);
        const LayoutRow& layout = layoutOf(p.layout);
        const int i = indexOf(p);
        if (p.isDropDown()) {
            field.value = QString::number((field.value.toInt() + 1) % p.entries.count);
            continue;
        }
        QStringList groups;
        for (const DigitRun& run : layout) {
            const int number = layout.runCount() > 1 ? (10 + i + static_cast<int>(groups.size())) % (layout.largest + 1)
                                                     : (field.value.toInt() + 100 + i) % (layout.largest + 1);
            groups << QStringLiteral("%1").arg(number, layout.runCount() > 1 ? run.size() : int(field.value.size()), 10,
                                               QLatin1Char('0'));
        }
        field.value = groups.join(QLatin1Char(layout.separator ? layout.separator : '.'));
    }
    return fields;
}

QString deviceItem(const QString& hexIdentity)
{
    return QStringLiteral("设备 ( ") + hexIdentity + QStringLiteral(" )");
}

} // namespace tarvik::test
