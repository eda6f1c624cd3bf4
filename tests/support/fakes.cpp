#include "fakes.h"

#include "ops/dispatch.h"

namespace tarvik::test {

FakePanel::FakePanel()
{
    m_index.fill(-1);
    // As after start-up: the list enabled, the buttons and pages disabled.
    m_enabled.fill(false);
    m_enabled[static_cast<int>(Control::Device_List)] = true;
}

int FakePanel::entryCount(Field field)
{
    const Parameter& parameter = parameterOf(field);
    return parameter.entries.count;
}

void FakePanel::setComboIndex(Field field, int index)
{
    // A drop-down takes only positions it has; anything else clears the selection.
    m_index[idx(field)] = index >= 0 && index < entryCount(field) ? index : -1;
}

void FakePanel::setActionsEnabled(bool enabled)
{
    for (Control c : kActionControls)
        setControlEnabled(c, enabled);
}

bool FakePanel::actionsEnabled(bool enabled) const
{
    for (Control c : kActionControls) {
        if (isEnabled(c) != enabled)
            return false;
    }
    return true;
}

void FakePanel::fillFields()
{
    for (Field field : kAllFields) {
        setFieldText(field, QStringLiteral("7"));
        setComboIndex(field, 1);
    }
}

bool FakePanel::isBlank(Field field) const
{
    return parameterOf(field).isDropDown() ? comboIndex(field) == -1 : fieldText(field).isEmpty();
}

int FakePanel::blankFields() const
{
    int blank = 0;
    for (Field field : kAllFields)
        blank += isBlank(field);
    return blank;
}

void FakePanel::insertDevice(int position, const QString& text)
{
    Q_ASSERT(position >= 0 && position <= items.size());
    items.insert(position, text);
}

void FakePanel::removeDevice(int position)
{
    Q_ASSERT(position >= 0 && position < items.size());
    items.removeAt(position);
    // As the window's list: after a removal nothing is selected.
    selected = -1;
}

void FakePanel::setLogText(const QString& text)
{
    log = text;
    m_logLines = log.count(kLineBreak) + 1;
    trimLog();
}

void FakePanel::appendLogText(const QString& text)
{
    ++appends;
    lastAppend = text;
    log += text;
    // Only the new text is counted: a long log costs no more per line than a short one.
    m_logLines += text.count(kLineBreak);
    trimLog();
}

void FakePanel::trimLog()
{
    qsizetype start = 0;
    for (; m_logLines > logLineLimit; --m_logLines)
        start = log.indexOf(kLineBreak, start) + kLineBreak.size();
    if (start > 0)
        log.remove(0, start);
}

QByteArray identity(int n)
{
    return QByteArray::fromHex("02000000") + static_cast<char>(n >> 8) + static_cast<char>(n & 0xFF);
}

QByteArray discoveryReply(int n)
{
    return identity(n) + QByteArray::fromHex("c0a801");
}

QByteArray moduleReply(const QByteArray& payload, int module)
{
    return identity(module) + payload;
}

QByteArray sampleValue(int stage)
{
    const Parameter* parameter = parameterForStage(stage);
    if (!parameter)
        return "01";
    const LayoutRow& layout = layoutOf(parameter->layout);
    if (layout.dropDown)
        return QByteArray("0") + static_cast<char>(parameter->base + 1);
    // Bytes 6 to the layout's last: digits wherever it reads them, "." after each group but the last.
    QByteArray value(layout.lastOffset() - 5, '0');
    for (const DigitRun& run : layout) {
        for (int i = run.first; i <= run.last; ++i)
            value[i - 6] = static_cast<char>('0' + i % 10);
        if (run.last < layout.lastOffset())
            value[run.last + 1 - 6] = '.';
    }
    return value;
}

QStringList commands(const QList<QByteArray>& frames)
{
    QStringList result;
    for (const QByteArray& frame : frames) {
        QByteArray command = frame.mid(8);
        command.truncate(command.indexOf(command.contains('=') ? '=' : '\r'));
        result << QString::fromLatin1(command);
    }
    return result;
}

Rig::Rig()
{
    ops.setClock([this] { return stamp(++stamps); });
}

void Rig::discover(int n, int card)
{
    for (int i = 1; i <= n; ++i)
        ops.Winsock_DataArrival(discoveryReply(i), card);
}

bool Rig::bringTo(qint16 opCode)
{
    select(0);
    const auto awaitedByWrite = [](qint16 code) {
        for (const Parameter& p : kParameters) {
            if (kOpWriteBase + p.stage + gapAfterStage(p.stage) == code)
                return true;
        }
        return false;
    };
    switch (route(opCode)) {
    case Branch::Discovery:
        state.Op_Code = opCode;
        return true;
    case Branch::Defaults:
        ops.L_Default_Click();
        return true;
    case Branch::Write:
        if (!awaitedByWrite(opCode))
            break;
        ops.Setting_Click();
        while (state.Op_Code != opCode)
            ops.Winsock_DataArrival(moduleReply("OK"));
        return true;
    case Branch::Read:
        if (!parameterForStage(opCode))
            break;
        ops.pickDevice();
        while (state.Op_Code != opCode)
            ops.Winsock_DataArrival(moduleReply(sampleValue(state.Op_Code)));
        return true;
    }
    state.Op_Code = opCode;
    return false;
}

void Rig::select(int index)
{
    panel.selected = index;
    state.Sel_Device = static_cast<qint16>(index);
}

} // namespace tarvik::test
