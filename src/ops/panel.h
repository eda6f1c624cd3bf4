// The window as the operations see it: parameter fields, the buttons and pages they enable,
// the device list and the message log.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"

#include <QString>

namespace tarvik {

enum class Control : quint8
{
    Device_List,
    Setting,
    L_Default,
    Run_Device,
    Comm_Item,
    Channel1,
    Channel2,
    Channel3, // the four parameter pages
};
// The list and the three buttons that act on the selected module: a read or write disables them
// while it runs and enables them at its end.
inline constexpr Control kActionControls[] = {Control::Device_List, Control::L_Default, Control::Setting,
                                              Control::Run_Device};
inline constexpr Control kPageControls[] = {Control::Comm_Item, Control::Channel1, Control::Channel2,
                                            Control::Channel3};

class Panel
{
public:
    virtual ~Panel() = default;

    // Drop-down fields: the selected position, -1 when none is selected.
    virtual int comboIndex(Field field) const = 0;
    virtual void setComboIndex(Field field, int index) = 0;
    // Text fields.
    virtual QString fieldText(Field field) const = 0;
    virtual void setFieldText(Field field, const QString& text) = 0;

    virtual void setControlEnabled(Control control, bool enabled) = 0;
    // A read runs (`held`) or has ended: meanwhile the window may show the values it is given a
    // little later, together, as long as comboIndex() and fieldText() give them at once.
    virtual void holdValues(bool held) { Q_UNUSED(held); }

    // Device list: the selected item (-1 when none), insertion and removal of items.
    virtual int selectedDevice() const = 0;
    virtual void insertDevice(int position, const QString& text) = 0;
    virtual void removeDevice(int position) = 0;

    // Message log. The log's text has its lines separated by CR LF.
    virtual void setLogText(const QString& text) = 0;
    // Adds text at the end of the log (text begins with its own CR LF).
    virtual void appendLogText(const QString& text) = 0;
};

// The value a field shows, as a setting or a parameter file carries it: a drop-down's position, a
// text field's text.
frames::FieldValue shownValue(const Panel& panel, Field field);
// Shows `value` in the field: the position in a drop-down, the text in a text field.
void showValue(Panel& panel, Field field, const frames::FieldValue& value);

} // namespace tarvik
