// The window's parameter files: export the values shown, import a file into the fields. Kept in a
// block of its own: the device list's context menu and two shortcuts, nothing else of the window.
#include "app/captions.h"
#include "app/mainform.h"
#include "ops/messagelog.h"
#include "ops/paramfile.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>

namespace tarvik {

void MainForm::installParameterFileActions()
{
    m_chooseFile = [this](bool save) {
        const QString filter = captions::text(captions::kFileFilter);
        return save ? QFileDialog::getSaveFileName(this, captions::text(captions::kExport), QString(), filter)
                    : QFileDialog::getOpenFileName(this, captions::text(captions::kImport), QString(), filter);
    };
    auto* exportAction = new QAction(captions::text(captions::kExport), this);
    exportAction->setObjectName(QStringLiteral("ExportParameters"));
    exportAction->setShortcut(QKeySequence::Save);
    connect(exportAction, &QAction::triggered, this, &MainForm::exportParameters);
    auto* importAction = new QAction(captions::text(captions::kImport), this);
    importAction->setObjectName(QStringLiteral("ImportParameters"));
    importAction->setShortcut(QKeySequence::Open);
    connect(importAction, &QAction::triggered, this, &MainForm::importParameters);
    addActions({exportAction, importAction});

    Device_List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Device_List, &QWidget::customContextMenuRequested, this, [this, exportAction, importAction](QPoint at) {
        // The values shown belong to the module last read, so the items follow the buttons:
        // export once a read has succeeded, import while the parameter pages can be edited.
        exportAction->setEnabled(Setting->isEnabled());
        importAction->setEnabled(m_pages[0]->isEnabled());
        // Not modal: arrivals and the time-out go on while the menu is open.
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addActions({exportAction, importAction});
        connect(menu, &QMenu::aboutToHide, this, [exportAction, importAction] {
            exportAction->setEnabled(true);
            importAction->setEnabled(true);
        });
        menu->popup(Device_List->viewport()->mapToGlobal(at));
    });
}

void MainForm::logFileEntry(const char* caption, const QString& detail)
{
    appendLogText(log::appendix(log::timestamp(), captions::text(caption) + detail));
}

void MainForm::exportParameters()
{
    if (!Setting->isEnabled() || !m_ops.state().selectionIsLive())
        return;
    const QString path = m_chooseFile(true);
    if (path.isEmpty())
        return;
    paramfile::ModuleValues module;
    module.identity = frames::identityOf(m_ops.state().Device_Table[static_cast<size_t>(m_ops.state().Sel_Device)]);
    for (Field which : kAllFields) {
        frames::FieldValue value;
        if (parameterOf(which).isDropDown())
            value.index = comboIndex(which);
        else
            value.text = fieldText(which);
        module.values[static_cast<size_t>(which)] = value;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(paramfile::write({module})) < 0 || !file.commit()) {
        logFileEntry(captions::kExportFailed, path + QStringLiteral(": ") + file.errorString());
        return;
    }
    logFileEntry(captions::kExported, path);
}

void MainForm::importParameters()
{
    if (!m_pages[0]->isEnabled())
        return;
    const QString path = m_chooseFile(false);
    if (path.isEmpty())
        return;
    const paramfile::Result file = paramfile::load(path);
    QByteArray identity;
    if (m_ops.state().selectionIsLive())
        identity = frames::identityOf(m_ops.state().Device_Table[static_cast<size_t>(m_ops.state().Sel_Device)]);
    const paramfile::Values* values = file.ok() ? paramfile::valuesFor(file, identity) : nullptr;
    if (!values) {
        logFileEntry(captions::kImportRefused,
                     file.ok() ? path + QStringLiteral(": no parameters for ") + paramfile::identityText(identity)
                               : file.error);
        return;
    }
    for (Field which : kAllFields) {
        const auto& value = (*values)[static_cast<size_t>(which)];
        if (!value)
            continue;
        if (parameterOf(which).isDropDown())
            setComboIndex(which, value->index);
        else
            setFieldText(which, value->text);
    }
    logFileEntry(captions::kImported, path);
}

} // namespace tarvik
