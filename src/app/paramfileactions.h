// The window's parameter files: 导出参数… writes the values the fields show to a file, 导入参数…
// fills the fields from one. Both are actions of the window (Ctrl+S, Ctrl+O) and the items of the
// device list's context menu; nothing else of the window is theirs.
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

    // Adds the actions to `window` and a context menu to `list`. `page` is a parameter page: the
    // fields may be imported into while it can be edited.
    ParameterFileActions(QWidget& window, QListWidget& list, const QWidget& page, Operations& operations, Panel& panel);

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // Enables each action while it can act: export while the fields show a module's completed
    // read and that module is listed and selected, import while the pages can be edited. The
    // window calls it after every click, arrival, time-out and change of the list's selection.
    void update();

    // What the actions do; each does nothing while it cannot act, whatever triggered it.
    void exportParameters();
    void importParameters();

private:
    void logEntry(const char* caption, const QString& detail);

    QWidget& m_window;
    const QWidget& m_page;
    Operations& m_ops;
    Panel& m_panel;
    QAction* m_export = nullptr;
    QAction* m_import = nullptr;
    FileChooser m_chooseFile;
};

} // namespace tarvik
