// The window's wiring: clicks, arrivals and time-outs handed to the operations, the device list's
// picks, and the Panel the operations see. Its controls are made in formlayout.cpp.
#include "mainform.h"

#include "app/captions.h"
#include "link/frames.h"
#include "ops/messagelog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTabBar>
#include <QTextCursor>

namespace tarvik {

namespace {

QString fromLogText(const QString& logText)
{
    QString shown = logText;
    shown.replace(log::kLineBreak, QStringLiteral("\n"));
    return shown;
}

} // namespace

MainForm::MainForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    // Owned as members, parented for findChild(): the window's endpoint and timer are part of it.
    Winsock.setParent(this);
    Timer1.setParent(this);
    m_repaintHold.setParent(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setSingleShot(true);
    // A coarse timer may expire up to 5 % early and count a reply that is on its way as lost.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        m_ops.Timer1_Timer();
        m_parameterFiles->update();
    });
    connect(&Winsock, &UdpEndpoint::datagramArrived, this, [this](const QByteArray& datagram, int card) {
        holdRepaints();
        m_ops.Winsock_DataArrival(datagram, card);
        m_parameterFiles->update();
    });
    m_repaintHold.setSingleShot(true);
    connect(&m_repaintHold, &QTimer::timeout, this, [this] {
        showPendingValues();
        if (m_logScrollPending)
            scrollLogToEnd();
        // What changed is painted at once: under a stream of datagrams the next arrival would hold
        // repaints again before a deferred paint came round.
        if (m_paintHeld) {
            m_paintHeld = false;
            QEvent request(QEvent::UpdateRequest);
            QWidget::event(&request);
        }
    });

    createControls();
    connectControls();
    Form_Load();
    m_parameterFiles = new ParameterFileActions(*this, *Device_List, *Setting, m_ops, *this);
}

MainForm::~MainForm() = default;

// ---- Wiring -------------------------------------------------------------------------------------

void MainForm::connectControls()
{
    connectAction(Scan, &Operations::Scan_Click);
    connectDeviceList();
    // A click on the tab already selected shows its page again, as any other click does.
    connect(Parameters, &QTabBar::tabBarClicked, this, [this](int index) { showPage(index + 1); });
    connect(Parameters, &QTabBar::currentChanged, this, [this] { Parameters_Click(); });
    connectAction(L_Default, &Operations::L_Default_Click);
    connectAction(Setting, &Operations::Setting_Click);
    connectAction(Run_Device, &Operations::Run_Device_Click);
    connect(Exit_Command, &QPushButton::clicked, this, &MainForm::Exit_Command_Click);
}

void MainForm::connectAction(QPushButton* button, void (Operations::*action)())
{
    connect(button, &QPushButton::clicked, this, [this, action] {
        holdRepaints();
        (m_ops.*action)();
        m_parameterFiles->update();
    });
}

// The user picks a module, and so starts its read, by every change of the list's selected item:
// mouse, arrow keys, Home/End, a typed letter. Enter and a click on the item already selected read
// it again. Changes the window makes itself (items added by a scan, one removed by a reset) are no
// picks, and a right-click changes nothing, so that the list can offer a context menu.
void MainForm::connectDeviceList()
{
    connect(Device_List, &QListWidget::itemSelectionChanged, this, [this] {
        // Whatever changed it: the module whose read the fields show may be selected no more.
        m_parameterFiles->update();
        if (m_listChangedByProgram)
            return;
        m_pressPicked = true;
        pickDevice();
    });
    connect(Device_List, &QListWidget::itemClicked, this, [this] {
        if (!m_pressPicked)
            pickDevice();
    });
    Device_List->installEventFilter(this);
    Device_List->viewport()->installEventFilter(this);
}

void MainForm::pickDevice()
{
    holdRepaints();
    m_ops.pickDevice();
    m_parameterFiles->update();
}

// ---- Start-up and shutdown ----------------------------------------------------------------------

void MainForm::Form_Load()
{
    showPage(1);
    for (QGroupBox* page : m_pages)
        page->setEnabled(false);

    const bool bound = Winsock.open(kLocalPort);

    QString advice = Operations::startAdvice();
    if (!bound)
        advice += log::kLineBreak + Operations::portUnavailable(Winsock.localPort(), Winsock.errorString());
    setLogText(log::begin(log::timestamp(), advice));

    DISP_IP->setText(captions::addressCaption(UdpEndpoint::primaryIPv4Address().toString(), Winsock.localPort()));
    DISP_IP->adjustSize();
    // The cards a scan goes out through, as found now and again at every broadcast.
    DISP_IP->setToolTip(captions::cardsTip(Winsock.cards()));
    connect(&Winsock, &UdpEndpoint::broadcastDone, DISP_IP,
            [this](const BroadcastReport& report) { DISP_IP->setToolTip(captions::cardsTip(report.cards)); });

    m_ops.state().Device_Count = 0;
    for (QPushButton* button : {L_Default, Setting, Run_Device})
        button->setEnabled(false);
}

void MainForm::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // Every module that hears this, behind any card, resets and runs; nothing waits for an
    // answer, and a failure to send does not keep the window open.
    Winsock.broadcast(frames::shutdownNotice());
}

void MainForm::Exit_Command_Click()
{
    QMessageBox box(QMessageBox::Question, captions::text(captions::kExitTitle),
                    captions::text(captions::kExitQuestion), QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("ExitConfirmation"));
    box.button(QMessageBox::Ok)->setText(captions::text(captions::kOk));
    box.button(QMessageBox::Cancel)->setText(captions::text(captions::kCancel));
    box.setDefaultButton(QMessageBox::Ok);
    if (box.exec() == QMessageBox::Ok)
        close();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    // Enter on the selected item reads it again, as a click does.
    if (watched == Device_List && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            pickDevice();
            return true;
        }
    }
    if (watched == Device_List->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
            // The right button leaves the selection alone; its context menu event still comes.
            if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
                return true;
            if (event->type() == QEvent::MouseButtonPress)
                m_pressPicked = false;
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// A module answers a request within tens of microseconds, and a read or write is 28 such
// exchanges: painting the window between two of them would make the chain several times slower
// than the wire. Once a request goes out or a reply comes in, the window's request to paint what
// changed waits for at most kRepaintHoldMs, which the eye does not see; only what changed is
// painted then.
void MainForm::holdRepaints()
{
    if (!m_repaintHold.isActive())
        m_repaintHold.start(kRepaintHoldMs);
}

bool MainForm::event(QEvent* event)
{
    if (event->type() == QEvent::UpdateRequest && m_repaintHold.isActive()) {
        m_paintHeld = true;
        return true;
    }
    return QWidget::event(event);
}

// ---- Panel --------------------------------------------------------------------------------------

QComboBox* MainForm::combo(Field which) const
{
    return static_cast<QComboBox*>(field(which));
}

QLineEdit* MainForm::lineEdit(Field which) const
{
    return static_cast<QLineEdit*>(field(which));
}

// While a read's replies follow each other, a field's new value waits: putting it into its widget
// (laying its text out) costs more than the rest of an exchange. The operations see the value at
// once; the widget takes it when repaints go on, or when the read ends, before its outcome is
// written to the log.
int MainForm::comboIndex(Field which) const
{
    const Pending& pending = m_pending[static_cast<size_t>(which)];
    return pending.held ? pending.index : combo(which)->currentIndex();
}

void MainForm::setComboIndex(Field which, int index)
{
    if (!holdValue(which, {true, index, {}}))
        combo(which)->setCurrentIndex(index);
}

QString MainForm::fieldText(Field which) const
{
    const Pending& pending = m_pending[static_cast<size_t>(which)];
    return pending.held ? pending.text : lineEdit(which)->text();
}

void MainForm::setFieldText(Field which, const QString& value)
{
    if (!holdValue(which, {true, -1, value}))
        lineEdit(which)->setText(value);
}

void MainForm::holdValues(bool held)
{
    m_valuesHeld = held;
    if (!held)
        showPendingValues();
}

bool MainForm::holdValue(Field which, Pending value)
{
    if (!m_valuesHeld || !m_repaintHold.isActive())
        return false;
    m_pending[static_cast<size_t>(which)] = std::move(value);
    m_valuesPending = true;
    return true;
}

void MainForm::showPendingValues()
{
    if (m_logPending) {
        m_logPending = false;
        editLog(m_pendingLog, true);
        m_pendingLog.clear();
    }
    if (!m_valuesPending)
        return;
    m_valuesPending = false;
    for (Field which : kAllFields) {
        Pending& pending = m_pending[static_cast<size_t>(which)];
        if (!pending.held)
            continue;
        pending.held = false;
        // A module read again mostly holds what the field already shows: nothing to lay out then.
        if (parameterOf(which).isDropDown()) {
            if (combo(which)->currentIndex() != pending.index)
                combo(which)->setCurrentIndex(pending.index);
        } else if (lineEdit(which)->text() != pending.text) {
            lineEdit(which)->setText(pending.text);
        }
    }
}

void MainForm::setControlEnabled(Control control, bool enabled)
{
    QWidget* widget = nullptr;
    switch (control) {
    case Control::Device_List:
        setDeviceListEnabled(enabled);
        return;
    case Control::Setting:
        widget = Setting;
        break;
    case Control::L_Default:
        widget = L_Default;
        break;
    case Control::Run_Device:
        widget = Run_Device;
        break;
    case Control::Comm_Item:
    case Control::Channel1:
    case Control::Channel2:
    case Control::Channel3:
        widget = m_pages[static_cast<size_t>(control) - static_cast<size_t>(Control::Comm_Item)];
        break;
    }
    widget->setEnabled(enabled);
}

// A read disables the list under the user's keys and the focus moves on; when the list comes back
// the focus does too, unless the user has put it elsewhere meanwhile, so that the arrow keys go on
// choosing modules.
void MainForm::setDeviceListEnabled(bool enabled)
{
    if (enabled == Device_List->isEnabled())
        return;
    if (!enabled) {
        m_listHadFocus = Device_List->hasFocus();
        Device_List->setEnabled(false);
        m_focusWhileListDisabled = QApplication::focusWidget();
        return;
    }
    Device_List->setEnabled(true);
    if (m_listHadFocus && QApplication::focusWidget() == m_focusWhileListDisabled)
        Device_List->setFocus(Qt::OtherFocusReason);
    m_listHadFocus = false;
}

int MainForm::selectedDevice() const
{
    const QList<QListWidgetItem*> selected = Device_List->selectedItems();
    return selected.isEmpty() ? -1 : Device_List->row(selected.first());
}

void MainForm::insertDevice(int position, const QString& itemText)
{
    const QScopedValueRollback<bool> byProgram(m_listChangedByProgram, true);
    Device_List->insertItem(position, itemText);
}

void MainForm::removeDevice(int position)
{
    // The list selects the item after a removed one itself; that is no pick.
    const QScopedValueRollback<bool> byProgram(m_listChangedByProgram, true);
    delete Device_List->takeItem(position);
    // Nothing stays selected: the module that moved up has not been read, so no button may act on
    // it before the user picks it.
    Device_List->clearSelection();
    Device_List->setCurrentRow(-1);
}

// The log is written to in the middle of a module's exchanges: its lines are laid out when shown,
// and it is scrolled to its end once repaints go on.
// A read begins the log as its first query goes out; while it runs, the new text waits like the
// values, and goes in together with the outcome when the read ends before repaints go on.
void MainForm::setLogText(const QString& logged)
{
    if (m_valuesHeld && m_repaintHold.isActive()) {
        m_pendingLog = fromLogText(logged);
        m_logPending = true;
        return;
    }
    showPendingValues();
    editLog(fromLogText(logged), true);
}

// Replaces or extends the log's text in one edit block: a cursor moved outside one lays the line it
// is on out at once.
void MainForm::editLog(const QString& text, bool replace)
{
    QTextCursor cursor(Help_Text->document());
    cursor.beginEditBlock();
    if (replace)
        cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::End, replace ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    cursor.insertText(text);
    cursor.endEditBlock();
    scrollLogToEnd();
}

void MainForm::appendLogText(const QString& logged)
{
    if (m_logPending) { // one edit for the read's beginning and its outcome
        m_pendingLog += fromLogText(logged);
        showPendingValues();
        return;
    }
    showPendingValues();
    editLog(fromLogText(logged), false);
}

void MainForm::scrollLogToEnd()
{
    if (m_repaintHold.isActive()) {
        m_logScrollPending = true;
        return;
    }
    m_logScrollPending = false;
    Help_Text->verticalScrollBar()->setValue(Help_Text->verticalScrollBar()->maximum());
}

void MainForm::arm(int milliseconds)
{
    Timer1.start(milliseconds);
}

void MainForm::stop()
{
    Timer1.stop();
}

} // namespace tarvik
