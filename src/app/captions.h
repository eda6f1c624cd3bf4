// Captions and tooltips of the main window outside the parameter fields (the fields' own are in
// fieldtexts.h), and the page and group frames the fields are placed in.
#pragma once

#include "app/fieldtexts.h"
#include "link/catalogue.h"
#include "link/link.h"
#include "tarvik_version.h"

#include <QString>

namespace tarvik::captions {

inline constexpr const char* kWindowTitle = QT_TRANSLATE_NOOP("MainForm", "Tarvik网络配置工具");
// The version is the project's own (project() in CMakeLists.txt).
inline constexpr const char* kVersion = "Tarvik  v" TARVIK_VERSION;
inline constexpr const char* kWebAddress = "www.tarvik.example";

inline constexpr const char* kScan = QT_TRANSLATE_NOOP("MainForm", "扫描设备");
// The device list's name for screen readers.
inline constexpr const char* kDeviceList = QT_TRANSLATE_NOOP("MainForm", "设备列表");
inline constexpr const char* kMessages = QT_TRANSLATE_NOOP("MainForm", "提示信息");
inline constexpr const char* kDefaults = QT_TRANSLATE_NOOP("MainForm", "默认值");
inline constexpr const char* kSetting = QT_TRANSLATE_NOOP("MainForm", "设  置");
inline constexpr const char* kRun = QT_TRANSLATE_NOOP("MainForm", "运  行");
inline constexpr const char* kRunTip = QT_TRANSLATE_NOOP("MainForm", "运行当前选择的模块");
inline constexpr const char* kExit = QT_TRANSLATE_NOOP("MainForm", "退  出");

inline constexpr const char* kExitQuestion = QT_TRANSLATE_NOOP("MainForm", "确认退出配置系统！");
inline constexpr const char* kExitTitle = QT_TRANSLATE_NOOP("MainForm", "退出");
inline constexpr const char* kOk = QT_TRANSLATE_NOOP("MainForm", "确定");
inline constexpr const char* kCancel = QT_TRANSLATE_NOOP("MainForm", "取消");

// Parameter files: the device list's context menu (also Ctrl+S and Ctrl+O) and its log entries.
inline constexpr const char* kExport = QT_TRANSLATE_NOOP("MainForm", "导出参数…");
inline constexpr const char* kImport = QT_TRANSLATE_NOOP("MainForm", "导入参数…");
inline constexpr const char* kFileFilter = QT_TRANSLATE_NOOP("MainForm", "参数文件 (*.json)");
inline constexpr const char* kExported = QT_TRANSLATE_NOOP("MainForm", "参数已导出到文件：");
inline constexpr const char* kExportFailed = QT_TRANSLATE_NOOP("MainForm", "参数导出不成功：");
inline constexpr const char* kExportUnfit = QT_TRANSLATE_NOOP("MainForm", "参数未导出，这些参数为空或无效：");
// %1: the device number, with its leading blank.
inline constexpr const char* kImported =
    QT_TRANSLATE_NOOP("MainForm", "已从文件导入参数，请按“设  置”写入设备%1（选择设备会重新读取，替换这些值）：");
inline constexpr const char* kImportRefused = QT_TRANSLATE_NOOP("MainForm", "参数文件未导入，参数保持不变：");
// A key whose action cannot act logs one of these two, then why (the action's tooltip):
inline constexpr const char* kExportUnavailable = QT_TRANSLATE_NOOP("MainForm", "导出参数不可用：");
inline constexpr const char* kImportUnavailable = QT_TRANSLATE_NOOP("MainForm", "导入参数不可用：");
inline constexpr const char* kOperationRuns = QT_TRANSLATE_NOOP("MainForm", "设备操作正在进行，请等它结束。");
inline constexpr const char* kNoModuleSelected = QT_TRANSLATE_NOOP("MainForm", "没有选择设备，请先选择设备。");
inline constexpr const char* kNoCompletedRead =
    QT_TRANSLATE_NOOP("MainForm", "所选设备的参数尚未完整读取，请先读取该设备。");
inline constexpr const char* kSettingUnavailable =
    QT_TRANSLATE_NOOP("MainForm", "“设  置”不可用，请先完整读取所选设备。");

// Tabs of the parameter pages: caption, page frame name, frame caption.
struct Page
{
    const char* tab;
    const char* frame;
    const char* frameCaption;
};
inline constexpr Page kPages[kPageCount] = {
    {QT_TRANSLATE_NOOP("MainForm", "通用参数"), "Comm_Item", QT_TRANSLATE_NOOP("MainForm", "通用参数")},
    {QT_TRANSLATE_NOOP("MainForm", "串行接口参数"), "Channel1", QT_TRANSLATE_NOOP("MainForm", "串行通道")},
    {QT_TRANSLATE_NOOP("MainForm", "网络通道参数1"), "Channel2", QT_TRANSLATE_NOOP("MainForm", "网络通道A")},
    {QT_TRANSLATE_NOOP("MainForm", "网络通道参数2"), "Channel3", QT_TRANSLATE_NOOP("MainForm", "网络通道B")},
};

// Group frames inside the pages, top to bottom in the order of this table. A group's fields are
// those of the parameter table that name it.
struct GroupFrame
{
    Group group;
    const char* name; // objectName
    const char* caption;
    bool orange; // network channel frames have a light orange background
};
inline constexpr GroupFrame kGroups[] = {
    {Group::Serial, "UART1_Control", QT_TRANSLATE_NOOP("MainForm", "串行通道"), false},
    {Group::Splitting, "Deli_Mode", QT_TRANSLATE_NOOP("MainForm", "数据包分割方式"), false},
    {Group::Channel1, "Net2_Control", QT_TRANSLATE_NOOP("MainForm", "网络通道1"), true},
    {Group::Channel2, "Net2_Control", QT_TRANSLATE_NOOP("MainForm", "网络通道2"), true},
    {Group::Channel3, "Net3_Control", QT_TRANSLATE_NOOP("MainForm", "网络通道3"), true},
    {Group::Channel4, "Net2_Control", QT_TRANSLATE_NOOP("MainForm", "网络通道4"), true},
};

// Typing limit of a text field (0: none) and the longest value it must show whole, each "0"
// standing for any digit: the layout's own.
constexpr int maxLength(Layout layout)
{
    return layoutOf(layout).typingLimit;
}

inline QString widestValue(Layout layout)
{
    return QString::fromLatin1(layoutOf(layout).widest);
}

// A caption of this table as the user reads it.
QString text(const char* caption);

// Caption of the address label: 本机IP地址：<address>    端口号： <port>
QString addressCaption(const QString& address, quint16 port);

// Tooltip of the address label: the cards a scan goes out through, one a line with its address.
QString cardsTip(const QList<Card>& cards);

} // namespace tarvik::captions
