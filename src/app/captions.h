// Captions, tooltips and drop-down entries of the main window.
#pragma once

#include "link/catalogue.h"

#include <QStringList>

namespace tarvik::captions {

inline constexpr const char* kWindowTitle = "Tarvik网络配置工具";
inline constexpr const char* kVersion = "Tarvik  v3.1";
inline constexpr const char* kWebAddress = "www.tarvik.example";

inline constexpr const char* kScan = "扫描设备";
inline constexpr const char* kMessages = "提示信息";
inline constexpr const char* kDefaults = "默认值";
inline constexpr const char* kSetting = "设  置";
inline constexpr const char* kRun = "运  行";
inline constexpr const char* kRunTip = "运行当前选择的模块";
inline constexpr const char* kExit = "退  出";

inline constexpr const char* kExitQuestion = "确认退出配置系统！";
inline constexpr const char* kExitTitle = "退出";
inline constexpr const char* kOk = "确定";
inline constexpr const char* kCancel = "取消";

// Tabs of the parameter pages: caption, key, page frame name, frame caption.
struct Page
{
    const char* tab;
    const char* key;
    const char* frame;
    const char* frameCaption;
};
inline constexpr Page kPages[] = {
    {"通用参数", "key0", "Comm_Item", "通用参数"},
    {"串行接口参数", "key1", "Channel1", "串行通道"},
    {"网络通道参数1", "key2", "Channel2", "网络通道A"},
    {"网络通道参数2", "key3", "Channel3", "网络通道B"},
};

// Field labels and tooltips (nullptr: no tooltip).
struct FieldCaption
{
    Field field;
    const char* name;
    const char* label;
    const char* tooltip;
    int maxLength; // text fields; 0 = no limit
};
extern const FieldCaption kFieldCaptions[kFieldCount];
const FieldCaption& fieldCaption(Field field);

inline constexpr const char* kSerialGroup = "串行通道";
inline constexpr const char* kSplittingGroup = "数据包分割方式";
inline constexpr const char* kChannelGroup[4] = {"网络通道1", "网络通道2", "网络通道3", "网络通道4"};

// Entries of a drop-down field, in the order they are filled at start-up.
QStringList entries(Field field);

} // namespace tarvik::captions
