// End-to-end test bed: simulated modules (tarvik-sim processes) in the test's own network
// namespace, a listener that records what goes on the wire, and the real window driven by clicks.
#pragma once

#include "app/mainform.h"
#include "link/catalogue.h"
#include "link/link.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

#include <list>
#include <memory>

namespace tarvik::test {

using tarvik::kLocalPort;
using tarvik::kModulePort;

// The tarvik-sim program built with the tests.
QString simulatorPath();

// One tarvik-sim process. Its output (one line per datagram) is collected while the event loop runs.
class SimProcess : public QObject
{
    Q_OBJECT

public:
    // `netns`: a file descriptor of the network namespace to run in (-1: this process's own).
    explicit SimProcess(QStringList arguments, QObject* parent = nullptr, int netns = -1);
    ~SimProcess() override;

    // Starts the program and waits until it listens ("ready"); false with the reason in error().
    bool start(int timeoutMs = 10000);
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    const QStringList& lines() const { return m_lines; }
    // Lines that contain `text`.
    int count(const QString& text) const;
    QString error() const { return m_error; }

private:
    void readOutput();

    QStringList m_arguments;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
    QString m_error;
};

// Listens, sharing the port, on the modules' port (to see what the tool sends) or on the tool's
// port (to see what the modules send), and keeps every datagram with its arrival time.
class WireTap : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        QByteArray bytes;
        qint64 atMs = 0; // since the tap opened
        QHostAddress sender;
        quint16 senderPort = 0;
        QHostAddress destination;
    };

    explicit WireTap(QObject* parent = nullptr);
    // `netns`: a file descriptor of the network namespace to listen in (-1: this process's own).
    bool open(quint16 port = kModulePort, int netns = -1);

    const QList<Frame>& frames() const { return m_frames; }
    QList<QByteArray> payloads() const;
    // Frames equal to `bytes`; frames whose bytes after the six identity bytes start with `command`.
    int count(const QByteArray& bytes) const;
    int countCommand(const QByteArray& command) const;
    QList<QByteArray> commands() const; // every frame with its identity cut off ("SETUP" stays whole)
    void clear() { m_frames.clear(); }
    qint64 elapsed() const { return m_clock.elapsed(); }
    // Sends a datagram from this tap's socket to the limited broadcast address (through the
    // loopback with `throughLoopback`, which needs no route).
    bool broadcast(const QByteArray& bytes, quint16 port, bool throughLoopback = false);
    // Waits until every datagram that reached the port before this call has been recorded: sends
    // itself a marker through the same port and waits for it (datagrams queue in order).
    bool sync(int timeoutMs = 5000);

private:
    void readPending();

    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    QList<Frame> m_frames;
    quint16 m_port = 0;
    int m_syncs = 0;
};

// The real window, shown on the offscreen platform, and what a user does with it.
class FormDriver
{
public:
    FormDriver();
    ~FormDriver();

    MainForm& form() { return *m_form; }
    Operations& operations() { return m_form->operations(); }

    void click(const char* button);
    // Clicks item `row` of the device list, as the user picks a module.
    void pickDevice(int row);
    // Replaces a text field's text by typing, as the user does (the page must be enabled).
    void type(Field field, const QString& text);
    // Chooses an entry of a drop-down.
    void choose(Field field, int index);
    void closeWindow();

    QString log() const;
    QStringList logLines() const;
    QStringList deviceItems() const;
    bool isEnabled(const char* control) const;
    // A field as the window shows it: a text box's text, or the position of a drop-down's entry
    // written as a number ("-1" when none is selected).
    QString value(Field field) const;

private:
    std::unique_ptr<MainForm> m_form;
};

// Everything an end-to-end test needs: the listener on the modules' port, the simulators, the window.
class Bed
{
public:
    Bed();
    ~Bed();

    // Opens the listener and the window; false when the listener cannot bind.
    bool open();
    // Starts one more tarvik-sim process (in the network namespace `netns`, -1: this process's
    // own); nullptr (and a warning with the reason) when it fails.
    SimProcess* startSim(const QStringList& arguments, int netns = -1);

    // Clicks Scan and waits for the scan's report; true when it reports `devices` modules (0: the
    // no-device entry).
    bool scan(int devices);
    // Picks item `row` and waits for the read's outcome; true when it succeeded.
    bool read(int row);
    // Waits until the log's last line is `line`.
    bool waitForLastLine(const QString& line, int timeoutMs = 5000);

    WireTap& wire() { return *m_wire; }
    FormDriver& ui() { return *m_ui; }
    OperationState& state() { return m_ui->operations().state(); }
    SimProcess& sim(int i = 0);

private:
    std::unique_ptr<WireTap> m_wire;
    std::list<std::unique_ptr<SimProcess>> m_sims;
    std::unique_ptr<FormDriver> m_ui;
};

// A field and the value the window must show for it (as FormDriver::value gives it).
struct FieldValue
{
    Field field;
    QString value;
};

// What a read of a module that holds its factory values puts into the window, in table order;
// `module` is the module's 0-based index in its tarvik-sim process.
QList<FieldValue> factoryFields(int module = 0);

// A value away from the factory one for every field, in table order, as the window shows it after
// a read (numbers as wide as the module answers them).
QList<FieldValue> otherFields();

// How many queries (or settings) a read (or write) sends up to and including the field's.
inline int framesThrough(const char* name)
{
    return indexOf(parameterOf(fieldNamed(name))) + 1;
}

// The hex text of an identity as the device list shows it: 设备 ( 001A2B3C4D5E ).
QString deviceItem(const QString& hexIdentity);

} // namespace tarvik::test
