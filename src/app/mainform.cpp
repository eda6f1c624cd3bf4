#include "mainform.h"

#include "app/captions.h"
#include "app/typinglimit.h"
#include "link/frames.h"
#include "ops/messagelog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace tarvik {

namespace {

// The window is laid out like the form the modules' users know, in its own units: twips, 15 a pixel.
constexpr int px(int twips)
{
    return twips / 15;
}

constexpr QPoint kPageOrigin{px(3240), px(1200)};
constexpr QSize kPageSize{px(5300), 297};

const QColor kLightGreen(0xC0, 0xFF, 0xC0);
const QColor kLightBlue(0xC0, 0xFF, 0xFF);
const QColor kLightOrange(0xFF, 0xE0, 0xC0);

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

void setBold(QWidget* widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

// A neutral 128 x 28 badge for the corner of the window.
QPixmap badge()
{
    QPixmap pixmap(128, 28);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2E, 0x4A, 0x62));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 127, 27), 5, 5);
    painter.setBrush(QColor(0xF2, 0xA9, 0x3B));
    for (int i = 0; i < 3; ++i)
        painter.drawRect(QRectF(8 + i * 6, 18 - i * 5, 4, 4 + i * 5));
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(15);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(30, 0, 96, 28), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TARVIK"));
    return pixmap;
}

// A text field as wide as the longest value it must show, whatever the font and the screen's
// scaling: the fields of an address take the room the ports and numbers leave.
class FieldEdit : public QLineEdit
{
public:
    explicit FieldEdit(Layout layout) : m_widest(captions::widestValue(layout))
    {
        setSizePolicy(layout == Layout::Address ? QSizePolicy::Expanding : QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return {textWidth(), QLineEdit::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {textWidth(), QLineEdit::minimumSizeHint().height()}; }

private:
    int textWidth() const
    {
        // The widest digit of the font in every digit place; 2 pixels of QLineEdit's own margin
        // on either side, and one for the cursor.
        int widest = 0;
        for (char digit = '0'; digit <= '9'; ++digit) {
            QString value = m_widest;
            value.replace(QLatin1Char('0'), QLatin1Char(digit));
            widest = qMax(widest, fontMetrics().horizontalAdvance(value));
        }
        const QMargins text = textMargins();
        const QMargins contents = contentsMargins();
        const QSize inner(widest + 1 + 2 * 2 + text.left() + text.right() + contents.left() + contents.right(),
                          fontMetrics().height());
        QStyleOptionFrame option;
        initStyleOption(&option);
        return style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, this).width();
    }

    QString m_widest;
};

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
    connect(&Timer1, &QTimer::timeout, this, [this] { m_ops.Timer1_Timer(); });
    connect(&Winsock, &UdpEndpoint::datagramArrived, this, [this](const QByteArray& datagram, int card) {
        holdRepaints();
        m_ops.Winsock_DataArrival(datagram, card);
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
    Form_Load();
    installParameterFileActions();
}

MainForm::~MainForm() = default;

// ---- Controls -----------------------------------------------------------------------------------

void MainForm::createControls()
{
    setWindowTitle(captions::text(captions::kWindowTitle));
    setFixedSize(px(8925), px(8175));
    createListAndTabs();
    for (int i = 0; i < kPageCount; ++i)
        m_pages[static_cast<size_t>(i)] = createPage(i);
    createButtonsAndLog();
    createFooter();
}

void MainForm::connectAction(QPushButton* button, void (Operations::*action)())
{
    connect(button, &QPushButton::clicked, this, [this, action] {
        holdRepaints();
        (m_ops.*action)();
    });
}

void MainForm::createListAndTabs()
{
    Scan = new QPushButton(captions::text(captions::kScan), this);
    Scan->setObjectName(QStringLiteral("Scan"));
    setBold(Scan);
    Scan->setGeometry(12, 10, 120, 30);
    connectAction(Scan, &Operations::Scan_Click);

    Device_List = new QListWidget(this);
    Device_List->setObjectName(QStringLiteral("Device_List"));
    Device_List->setSelectionMode(QAbstractItemView::SingleSelection);
    Device_List->setGeometry(12, 48, px(2800), px(4860));
    Device_List->setAccessibleName(captions::text(captions::kDeviceList));
    setColor(Device_List, QPalette::Base, kLightGreen);
    connectDeviceList();

    const QRect tabArea(px(3120), px(720), px(5550), px(5055));
    m_tabPane = new QFrame(this);
    m_tabPane->setFrameShape(QFrame::StyledPanel);
    Parameters = new QTabBar(this);
    Parameters->setObjectName(QStringLiteral("Parameters"));
    Parameters->setExpanding(false);
    Parameters->setUsesScrollButtons(false);
    // Narrow tabs, so that the four captions fit the width of the pages.
    Parameters->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 7px; }"));
    for (const captions::Page& page : captions::kPages)
        Parameters->addTab(captions::text(page.tab));
    Parameters->setGeometry(tabArea.x(), tabArea.y(), tabArea.width(), Parameters->sizeHint().height());
    m_tabPane->setGeometry(tabArea.x(), tabArea.y() + Parameters->height() - 1, tabArea.width(),
                           tabArea.height() - Parameters->height() + 1);
    // A click on the tab already selected shows its page again, as any other click does.
    connect(Parameters, &QTabBar::tabBarClicked, this, [this](int index) { showPage(index + 1); });
    connect(Parameters, &QTabBar::currentChanged, this, [this] { Parameters_Click(); });
}

// The user picks a module, and so starts its read, by every change of the list's selected item:
// mouse, arrow keys, Home/End, a typed letter. Enter and a click on the item already selected read
// it again. Changes the window makes itself (items added by a scan, one removed by a reset) are no
// picks, and a right-click changes nothing, so that the list can offer a context menu.
void MainForm::connectDeviceList()
{
    connect(Device_List, &QListWidget::itemSelectionChanged, this, [this] {
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
}

// A page frame with the fields the parameter table places on it: those without a group in a grid
// of their own, the others in their group frames, top to bottom.
QGroupBox* MainForm::createPage(int index)
{
    const captions::Page& page = captions::kPages[index];
    auto* frame = new QGroupBox(captions::text(page.frameCaption), this);
    frame->setObjectName(QString::fromLatin1(page.frame));
    frame->setAccessibleName(frame->title());
    // Each page starts where the form designer left it; showPage() puts the visible one in place.
    frame->setGeometry(QRect(kPageOrigin + QPoint(index * 8, index * 8), kPageSize));
    auto* layout = new QVBoxLayout(frame);

    auto addFields = [this, index](QGridLayout* grid, Group group) {
        for (Field which : kAllFields) {
            const Place& place = parameterOf(which).place;
            if (place.page != index || place.group != group)
                continue;
            QWidget* widget = createField(which);
            auto* label = new QLabel(tableText(parameterOf(which).label));
            label->setBuddy(widget);
            grid->addWidget(label, place.row, 2 * place.column);
            grid->addWidget(widget, place.row, 2 * place.column + 1);
        }
        return grid->count() > 0;
    };

    auto* ungrouped = new QGridLayout;
    if (addFields(ungrouped, Group::None))
        layout->addLayout(ungrouped);
    else
        delete ungrouped;
    for (const captions::GroupFrame& groupFrame : captions::kGroups) {
        auto* group = new QGroupBox(captions::text(groupFrame.caption), frame);
        auto* grid = new QGridLayout(group);
        if (!addFields(grid, groupFrame.group)) {
            delete group;
            continue;
        }
        group->setObjectName(QString::fromLatin1(groupFrame.name));
        // Without a name of its own a frame inside a page would be announced by the page's caption.
        group->setAccessibleName(group->title());
        if (groupFrame.orange) {
            setColor(group, QPalette::Window, kLightOrange);
            grid->setVerticalSpacing(4);
        }
        layout->addWidget(group);
    }
    layout->addStretch();
    return frame;
}

QWidget* MainForm::createField(Field which)
{
    const Parameter& parameter = parameterOf(which);
    QWidget* widget = nullptr;
    if (parameter.isDropDown()) {
        auto* box = new QComboBox;
        box->setEditable(false);
        widget = box;
    } else {
        auto* edit = new FieldEdit(parameter.layout);
        if (const int limit = captions::maxLength(parameter.layout))
            new TypingLimit(limit, edit);
        widget = edit;
    }
    widget->setObjectName(QString::fromLatin1(parameter.name));
    widget->setAccessibleName(tableText(parameter.label));
    if (parameter.tooltip)
        widget->setToolTip(tableText(parameter.tooltip));
    m_fields[static_cast<size_t>(which)] = widget;
    return widget;
}

void MainForm::createButtonsAndLog()
{
    Frame1 = new QGroupBox(captions::text(captions::kMessages), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setAccessibleName(Frame1->title());
    Frame1->setGeometry(12, 390, px(6615), px(1730));
    Help_Text = new QPlainTextEdit(Frame1);
    Help_Text->setObjectName(QStringLiteral("Help_Text"));
    Help_Text->setReadOnly(true);
    Help_Text->setAccessibleName(captions::text(captions::kMessages));
    Help_Text->setGeometry(8, 20, px(6375), px(1400) - 6);
    Help_Text->setMaximumBlockCount(kLogLineLimit);
    Help_Text->setUndoRedoEnabled(false);
    setColor(Help_Text, QPalette::Base, kLightBlue);

    const int right = 462;
    L_Default = new QPushButton(captions::text(captions::kDefaults), this);
    L_Default->setObjectName(QStringLiteral("L_Default"));
    L_Default->setGeometry(right, 398, 58, 28);
    connectAction(L_Default, &Operations::L_Default_Click);

    Setting = new QPushButton(captions::text(captions::kSetting), this);
    Setting->setObjectName(QStringLiteral("Setting"));
    Setting->setGeometry(right + 63, 398, 58, 28);
    connectAction(Setting, &Operations::Setting_Click);

    Run_Device = new QPushButton(captions::text(captions::kRun), this);
    Run_Device->setObjectName(QStringLiteral("Run_Device"));
    Run_Device->setToolTip(captions::text(captions::kRunTip));
    setBold(Run_Device);
    Run_Device->setGeometry(right, 434, 121, 30);
    connectAction(Run_Device, &Operations::Run_Device_Click);

    Exit_Command = new QPushButton(captions::text(captions::kExit), this);
    Exit_Command->setObjectName(QStringLiteral("Exit_Command"));
    setBold(Exit_Command);
    Exit_Command->setGeometry(right, 472, 121, 30);
    connect(Exit_Command, &QPushButton::clicked, this, &MainForm::Exit_Command_Click);
}

void MainForm::createFooter()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(badge());
    Image1->setGeometry(12, 512, 128, 28);

    DISP_IP = new QLabel(this);
    DISP_IP->setObjectName(QStringLiteral("DISP_IP"));
    DISP_IP->move(150, 509);
    setColor(DISP_IP, QPalette::WindowText, Qt::red);

    Label5 = new QLabel(QString::fromLatin1(captions::kWebAddress), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->move(150, 526);
    Label5->adjustSize();
    setColor(Label5, QPalette::WindowText, Qt::blue);

    Label1 = new QLabel(QString::fromLatin1(captions::kVersion), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->adjustSize();
    Label1->move(width() - 12 - Label1->width(), 520);
}

// ---- Start-up and shutdown ----------------------------------------------------------------------

void MainForm::Form_Load()
{
    for (Field which : kAllFields) {
        const Parameter& parameter = parameterOf(which);
        if (!parameter.isDropDown())
            continue;
        QComboBox* box = combo(which);
        for (const char* entry : parameter.entries)
            box->addItem(tableText(entry));
        box->setCurrentIndex(-1);
    }
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

// ---- Pages --------------------------------------------------------------------------------------

void MainForm::Parameters_Click()
{
    showPage(Parameters->currentIndex() + 1);
}

void MainForm::showPage(int tab)
{
    if (tab < 1 || tab > 4)
        return;
    for (int i = 0; i < 4; ++i) {
        if (i != tab - 1)
            m_pages[static_cast<size_t>(i)]->hide();
    }
    QGroupBox* page = m_pages[static_cast<size_t>(tab - 1)];
    page->move(kPageOrigin);
    page->show();
    page->raise();
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
