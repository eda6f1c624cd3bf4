#include "paramfileactions.h"

#include "app/captions.h"
#include "ops/messagelog.h"
#include "ops/operations.h"
#include "ops/paramfile.h"

#include <QAction>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QSaveFile>
#include <QShortcut>
#include <QStringList>

#include <utility>

namespace tarvik {

ParameterFileActions::ParameterFileActions(QWidget& window, QListWidget& list, const QWidget& setting,
                                           Operations& operations, Panel& panel)
    : QObject(&window), m_window(window), m_list(list), m_setting(setting), m_ops(operations), m_panel(panel)
{
    m_chooseFile = [this](bool save) {
        const QString filter = captions::text(captions::kFileFilter);
        return save ? QFileDialog::getSaveFileName(&m_window, captions::text(captions::kExport), QString(), filter)
                    : QFileDialog::getOpenFileName(&m_window, captions::text(captions::kImport), QString(), filter);
    };
    m_export = new QAction(captions::text(captions::kExport), this);
    m_export->setObjectName(QStringLiteral("ExportParameters"));
    m_export->setShortcut(QKeySequence::Save);
    connect(m_export, &QAction::triggered, this, &ParameterFileActions::exportParameters);
    m_import = new QAction(captions::text(captions::kImport), this);
    m_import->setObjectName(QStringLiteral("ImportParameters"));
    m_import->setShortcut(QKeySequence::Open);
    connect(m_import, &QAction::triggered, this, &ParameterFileActions::importParameters);
    // The keys are the window's own, not the actions': a key pressed while its action cannot act
    // still says why.
    connect(new QShortcut(QKeySequence::Save, &m_window), &QShortcut::activated, this,
            &ParameterFileActions::exportParameters);
    connect(new QShortcut(QKeySequence::Open, &m_window), &QShortcut::activated, this,
            &ParameterFileActions::importParameters);
    update();

    list.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&list, &QWidget::customContextMenuRequested, this, [this, &list](QPoint at) {
        // Not modal: arrivals and the time-out go on while the menu is open.
        auto* menu = new QMenu(&m_window);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->setToolTipsVisible(true);
        menu->addActions({m_export, m_import});
        menu->popup(list.viewport()->mapToGlobal(at));
    });
}

void ParameterFileActions::update()
{
    for (auto [action, refusal] : {std::pair(m_export, exportRefusal()), std::pair(m_import, importRefusal())}) {
        action->setEnabled(!refusal);
        action->setToolTip(refusal ? captions::text(refusal) : QString());
    }
}

const char* ParameterFileActions::selectionRefusal() const
{
    const OperationState& state = m_ops.state();
    if (m_ops.isBusy() || state.Scan_Round != 0)
        return captions::kOperationRuns;
    const QList<QListWidgetItem*> selected = m_list.selectedItems();
    if (selected.isEmpty() || !m_ops.selectedIdentity() || m_list.row(selected.first()) != state.Sel_Device)
        return captions::kNoModuleSelected;
    return nullptr;
}

const char* ParameterFileActions::exportRefusal() const
{
    if (const char* refusal = selectionRefusal())
        return refusal;
    return m_ops.shownModule() ? nullptr : captions::kNoCompletedRead;
}

// What is imported waits in the fields for 设  置, so the import is offered only when the button can
// send it to the module selected. Until then a read (a pick of any module) replaces it, as it
// replaces the user's edits.
const char* ParameterFileActions::importRefusal() const
{
    if (const char* refusal = selectionRefusal())
        return refusal;
    return m_setting.isEnabled() ? nullptr : captions::kSettingUnavailable;
}

void ParameterFileActions::logEntry(const QString& entry)
{
    m_panel.appendLogText(log::appendix(log::timestamp(), entry));
}

void ParameterFileActions::exportParameters()
{
    if (const char* refusal = exportRefusal()) {
        logEntry(captions::text(captions::kExportUnavailable) + captions::text(refusal));
        return;
    }
    paramfile::ModuleValues module;
    module.identity = m_ops.shownModule().value_or(QByteArray());
    for (Field which : kAllFields)
        module.values[static_cast<size_t>(which)] = shownValue(m_panel, which);
    // What the import would refuse (an empty field among them) is not written: nothing is asked
    // or written, so that every file the window writes is one it takes back.
    if (const QStringList unfit = paramfile::unfitForFile(module.values); !unfit.isEmpty()) {
        logEntry(captions::text(captions::kExportUnfit) + unfit.join(QStringLiteral(", ")));
        return;
    }
    const QString path = m_chooseFile(true);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(paramfile::write({module})) < 0 || !file.commit()) {
        logEntry(captions::text(captions::kExportFailed) + path + QStringLiteral(": ") + file.errorString());
        return;
    }
    logEntry(captions::text(captions::kExported) + path);
}

void ParameterFileActions::importParameters()
{
    if (const char* refusal = importRefusal()) {
        logEntry(captions::text(captions::kImportUnavailable) + captions::text(refusal));
        return;
    }
    const QString path = m_chooseFile(false);
    if (path.isEmpty())
        return;
    const paramfile::Result file = paramfile::load(path);
    // The module the buttons act on: its own set, or the set without identity.
    const QByteArray identity = m_ops.selectedIdentity().value_or(QByteArray());
    const paramfile::Values* values = file.ok() ? paramfile::valuesFor(file, identity) : nullptr;
    if (!values) {
        logEntry(captions::text(captions::kImportRefused) +
                 (file.ok() ? path + QStringLiteral(": no parameters for ") + paramfile::identityText(identity)
                            : file.error));
        return;
    }
    for (Field which : kAllFields) {
        if (const auto& value = (*values)[static_cast<size_t>(which)])
            showValue(m_panel, which, *value);
    }
    const QString device = QLatin1Char(' ') + QString::number(m_ops.state().Sel_Device + 1);
    logEntry(captions::text(captions::kImported).arg(device) + path);
}

} // namespace tarvik
