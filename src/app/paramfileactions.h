// The window's parameter files: 导出参数… writes the values the fields show to a file, 导入参数…
// fills the fields from one. Both are items of the device list's context menu and keys of the
// window (Ctrl+S, Ctrl+O); nothing else of the window is theirs.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QListWidget;
class QWidget;

namespace tarvik {

class Operations;
class Panel;

class ParameterFileActions : public QObject
{
    Q_OBJECT

public:
    // Asks for a file name (`save`: for writing); an empty name cancels. Tests replace the file
    // dialogs with one.
    using FileChooser = std::function<QString(bool save)>;

    // Adds the keys to `window` and a context menu to `list`. `setting` is the button that writes
    // the fields to the selected module.
    ParameterFileActions(QWidget& window, QListWidget& list, const QWidget& setting, Operations& operations,
                         Panel& panel);

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // Enables each action while it can act, and otherwise says why in its tooltip: export while
    // the fields show a module's completed read and that module is listed and selected; import
    // while the imported values can be written to the module selected, that is while no operation
    // runs and 设  置 is enabled for it. The window calls it after every click, arrival, time-out
    // and change of the list's selection.
    void update();

    // What the actions and keys do; while one cannot act, it only says why in the log.
    void exportParameters();
    void importParameters();

private:
    // Why the action cannot act now (a caption), or nullptr when it can.
    const char* exportRefusal() const;
    const char* importRefusal() const;
    // The selected item is the module the buttons address, and no operation runs.
    const char* selectionRefusal() const;
    void logEntry(const QString& entry);

    QWidget& m_window;
    const QListWidget& m_list;
    const QWidget& m_setting;
    Operations& m_ops;
    Panel& m_panel;
    QAction* m_export = nullptr;
    QAction* m_import = nullptr;
    FileChooser m_chooseFile;
};

} // namespace tarvik
