#include "panel.h"

namespace tarvik {

frames::FieldValue shownValue(const Panel& panel, Field field)
{
    frames::FieldValue value;
    if (parameterOf(field).isDropDown())
        value.index = panel.comboIndex(field);
    else
        value.text = panel.fieldText(field);
    return value;
}

void showValue(Panel& panel, Field field, const frames::FieldValue& value)
{
    if (parameterOf(field).isDropDown())
        panel.setComboIndex(field, value.index);
    else
        panel.setFieldText(field, value.text);
}

} // namespace tarvik
