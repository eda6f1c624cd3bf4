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
#include <QStringList>

namespace tarvik {

ParameterFileActions::ParameterFileActions(QWidget& window, QListWidget& list, const QWidget& page,
                                           Operations& operations, Panel& panel)
    : QObject(&window), m_window(window), m_page(page), m_ops(operations), m_panel(panel)
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
    m_window.addActions({m_export, m_import});
    update();

    list.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&list, &QWidget::customContextMenuRequested, this, [this, &list](QPoint at) {
        // Not modal: arrivals and the time-out go on while the menu is open.
        auto* menu = new QMenu(&m_window);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addActions({m_export, m_import});
        menu->popup(list.viewport()->mapToGlobal(at));
    });
}

void ParameterFileActions::update()
{
    m_export->setEnabled(m_ops.shownModule().has_value());
    m_import->setEnabled(m_page.isEnabled());
}

void ParameterFileActions::logEntry(const char* caption, const QString& detail)
{
    m_panel.appendLogText(log::appendix(log::timestamp(), captions::text(caption) + detail));
}

void ParameterFileActions::exportParameters()
{
    const std::optional<QByteArray> identity = m_ops.shownModule();
    if (!identity)
        return;
    paramfile::ModuleValues module;
    module.identity = *identity;
    QStringList empty;
    for (Field which : kAllFields) {
        const frames::FieldValue value = shownValue(m_panel, which);
        if (value.index < 0 && value.text.isEmpty())
            empty << QString::fromLatin1(parameterOf(which).name);
        module.values[static_cast<size_t>(which)] = value;
    }
    // A field that shows nothing has no value a file can hold: nothing is asked or written.
    if (!empty.isEmpty()) {
        logEntry(captions::kExportEmpty, empty.join(QStringLiteral(", ")));
        return;
    }
    const QString path = m_chooseFile(true);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(paramfile::write({module})) < 0 || !file.commit()) {
        logEntry(captions::kExportFailed, path + QStringLiteral(": ") + file.errorString());
        return;
    }
    logEntry(captions::kExported, path);
}

void ParameterFileActions::importParameters()
{
    if (!m_page.isEnabled())
        return;
    const QString path = m_chooseFile(false);
    if (path.isEmpty())
        return;
    const paramfile::Result file = paramfile::load(path);
    // The module the buttons act on: its own set, or the set without identity.
    const QByteArray identity = m_ops.selectedIdentity().value_or(QByteArray());
    const paramfile::Values* values = file.ok() ? paramfile::valuesFor(file, identity) : nullptr;
    if (!values) {
        logEntry(captions::kImportRefused,
                 file.ok() ? path + QStringLiteral(": no parameters for ") + paramfile::identityText(identity)
                           : file.error);
        return;
    }
    for (Field which : kAllFields) {
        if (const auto& value = (*values)[static_cast<size_t>(which)])
            showValue(m_panel, which, *value);
    }
    logEntry(captions::kImported, path);
}

} // namespace tarvik
