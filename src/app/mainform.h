// The tool's one window: device list, the four parameter pages, the buttons and the message log.
#pragma once

#include "app/paramfileactions.h"
#include "link/udpendpoint.h"
#include "ops/operations.h"
#include "ops/panel.h"
#include "ops/replytimer.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>

class QComboBox;
class QFrame;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabBar;

namespace tarvik {

class MainForm : public QWidget, private Panel, private ReplyTimer
{
    Q_OBJECT

public:
    // Keeps the log to this many lines, dropping the oldest, so that a stream of stray datagrams
    // cannot grow it without bound.
    static constexpr int kLogLineLimit = 1000;
    // While requests and replies follow each other, the window is repainted at most this often.
    static constexpr int kRepaintHoldMs = 20;

    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    Operations& operations() { return m_ops; }
    UdpEndpoint& endpoint() { return Winsock; }
    QWidget* field(Field field) const { return m_fields[static_cast<size_t>(field)]; }

    // The parameter files' export and import (the device list's context menu, Ctrl+S, Ctrl+O).
    ParameterFileActions& parameterFiles() { return *m_parameterFiles; }

public slots:
    void Parameters_Click();
    void Exit_Command_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // formlayout.cpp: the controls, where they sit and how they look.
    void createControls();
    void createListAndTabs();
    QGroupBox* createPage(int index);
    QWidget* createField(Field which);
    void createButtonsAndLog();
    void createFooter();
    void showPage(int tab);

    void connectControls();
    void connectDeviceList();
    // A button or list action that talks to the modules: repaints wait while requests and replies
    // follow each other.
    void connectAction(QPushButton* button, void (Operations::*action)());
    void Form_Load();
    void Form_Unload();
    void holdRepaints();
    void pickDevice();
    void setDeviceListEnabled(bool enabled);

    // Panel
    int comboIndex(Field which) const override;
    void setComboIndex(Field which, int index) override;
    QString fieldText(Field which) const override;
    void setFieldText(Field which, const QString& value) override;
    void setControlEnabled(Control control, bool enabled) override;
    void holdValues(bool held) override;
    int selectedDevice() const override;
    void insertDevice(int position, const QString& text) override;
    void removeDevice(int position) override;
    void setLogText(const QString& logged) override;
    void appendLogText(const QString& logged) override;
    // ReplyTimer: Timer1
    void arm(int milliseconds) override;
    void stop() override;

    // A field's value waiting to be shown (see setFieldText()).
    struct Pending
    {
        bool held = false;
        int index = -1; // drop-downs
        QString text;   // text fields
    };
    bool holdValue(Field which, Pending value);
    void showPendingValues();
    void editLog(const QString& text, bool replace);
    void scrollLogToEnd();

    QComboBox* combo(Field which) const;
    QLineEdit* lineEdit(Field which) const;

    UdpEndpoint Winsock;
    QTimer Timer1;
    QTimer m_repaintHold;
    Operations m_ops{*this, Winsock, *this};
    bool m_unloaded = false;
    bool m_logScrollPending = false; // the log changed while repaints were held
    bool m_paintHeld = false;        // a request to paint came while repaints were held
    // Set while the window itself changes the device list: its selection changes then are no picks.
    bool m_listChangedByProgram = false;
    // Set when a mouse press changed the selection, so that the click it ends does not read again.
    bool m_pressPicked = false;
    // The list had the keyboard focus when a read disabled it, and the focus went to this widget.
    bool m_listHadFocus = false;
    QPointer<QWidget> m_focusWhileListDisabled;

    QPushButton* Scan = nullptr;
    QListWidget* Device_List = nullptr;
    QTabBar* Parameters = nullptr;
    QFrame* m_tabPane = nullptr;
    std::array<QGroupBox*, 4> m_pages{}; // Comm_Item, Channel1, Channel2, Channel3
    QGroupBox* Frame1 = nullptr;
    QPlainTextEdit* Help_Text = nullptr;
    QPushButton* L_Default = nullptr;
    QPushButton* Setting = nullptr;
    QPushButton* Run_Device = nullptr;
    QPushButton* Exit_Command = nullptr;
    QLabel* DISP_IP = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Image1 = nullptr;
    std::array<QWidget*, kFieldCount> m_fields{};
    std::array<Pending, kFieldCount> m_pending{};
    bool m_valuesPending = false;
    bool m_valuesHeld = false; // a read runs
    QString m_pendingLog;      // the log's new text, not shown yet (see setLogText())
    bool m_logPending = false;
    ParameterFileActions* m_parameterFiles = nullptr;
};

} // namespace tarvik
