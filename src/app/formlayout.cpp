// MainForm's controls: which there are, where they sit, their captions, colours and fonts. The
// connections between them and to the operations are made in mainform.cpp.
#include "app/captions.h"
#include "app/mainform.h"
#include "app/typinglimit.h"
#include "ops/entries.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QVBoxLayout>

namespace tarvik {

namespace {

// The window is laid out like the form the modules' users know, in its own units: twips, 15 a pixel.
constexpr int px(int twips)
{
    return twips / 15;
}

// Where the parameter page shown sits; each page is made at its own place beside it.
constexpr QPoint kPageOrigin{px(3240), px(1200)};
constexpr QSize kPageSize{px(5300), 297};

const QColor kLightGreen(0xC0, 0xFF, 0xC0);
const QColor kLightBlue(0xC0, 0xFF, 0xFF);
const QColor kLightOrange(0xFF, 0xE0, 0xC0);

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

void setBold(QWidget* widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

// A neutral 128 x 28 badge for the corner of the window.
QPixmap badge()
{
    QPixmap pixmap(128, 28);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2E, 0x4A, 0x62));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 127, 27), 5, 5);
    painter.setBrush(QColor(0xF2, 0xA9, 0x3B));
    for (int i = 0; i < 3; ++i)
        painter.drawRect(QRectF(8 + i * 6, 18 - i * 5, 4, 4 + i * 5));
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(15);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(30, 0, 96, 28), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TARVIK"));
    return pixmap;
}

// A text field as wide as the longest value it must show, whatever the font and the screen's
// scaling: the fields of an address take the room the ports and numbers leave.
class FieldEdit : public QLineEdit
{
public:
    explicit FieldEdit(Layout layout) : m_widest(captions::widestValue(layout))
    {
        // An address (a value of several groups) takes the room the single numbers leave.
        setSizePolicy(layoutOf(layout).runCount() > 1 ? QSizePolicy::Expanding : QSizePolicy::Preferred,
                      QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return {textWidth(), QLineEdit::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {textWidth(), QLineEdit::minimumSizeHint().height()}; }

private:
    int textWidth() const
    {
        // The widest digit of the font in every digit place; 2 pixels of QLineEdit's own margin
        // on either side, and one for the cursor.
        int widest = 0;
        for (char digit = '0'; digit <= '9'; ++digit) {
            QString value = m_widest;
            value.replace(QLatin1Char('0'), QLatin1Char(digit));
            widest = qMax(widest, fontMetrics().horizontalAdvance(value));
        }
        const QMargins text = textMargins();
        const QMargins contents = contentsMargins();
        const QSize inner(widest + 1 + 2 * 2 + text.left() + text.right() + contents.left() + contents.right(),
                          fontMetrics().height());
        QStyleOptionFrame option;
        initStyleOption(&option);
        return style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, this).width();
    }

    QString m_widest;
};

} // namespace

// ---- Controls -----------------------------------------------------------------------------------

void MainForm::createControls()
{
    setWindowTitle(captions::text(captions::kWindowTitle));
    setFixedSize(px(8925), px(8175));
    createListAndTabs();
    for (int i = 0; i < kPageCount; ++i)
        m_pages[static_cast<size_t>(i)] = createPage(i);
    createButtonsAndLog();
    createFooter();
}

void MainForm::createListAndTabs()
{
    Scan = new QPushButton(captions::text(captions::kScan), this);
    Scan->setObjectName(QStringLiteral("Scan"));
    setBold(Scan);
    Scan->setGeometry(12, 10, 120, 30);

    Device_List = new QListWidget(this);
    Device_List->setObjectName(QStringLiteral("Device_List"));
    Device_List->setSelectionMode(QAbstractItemView::SingleSelection);
    Device_List->setGeometry(12, 48, px(2800), px(4860));
    Device_List->setAccessibleName(captions::text(captions::kDeviceList));
    setColor(Device_List, QPalette::Base, kLightGreen);

    const QRect tabArea(px(3120), px(720), px(5550), px(5055));
    m_tabPane = new QFrame(this);
    m_tabPane->setFrameShape(QFrame::StyledPanel);
    Parameters = new QTabBar(this);
    Parameters->setObjectName(QStringLiteral("Parameters"));
    Parameters->setExpanding(false);
    Parameters->setUsesScrollButtons(false);
    // Narrow tabs, so that the four captions fit the width of the pages.
    Parameters->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 7px; }"));
    for (const captions::Page& page : captions::kPages)
        Parameters->addTab(captions::text(page.tab));
    Parameters->setGeometry(tabArea.x(), tabArea.y(), tabArea.width(), Parameters->sizeHint().height());
    m_tabPane->setGeometry(tabArea.x(), tabArea.y() + Parameters->height() - 1, tabArea.width(),
                           tabArea.height() - Parameters->height() + 1);
}

// A page frame with the fields the parameter table places on it: those without a group in a grid
// of their own, the others in their group frames, top to bottom.
QGroupBox* MainForm::createPage(int index)
{
    const captions::Page& page = captions::kPages[index];
    auto* frame = new QGroupBox(captions::text(page.frameCaption), this);
    frame->setObjectName(QString::fromLatin1(page.frame));
    frame->setAccessibleName(frame->title());
    // Each page starts where the form designer left it; showPage() puts the visible one in place.
    frame->setGeometry(QRect(kPageOrigin + QPoint(index * 8, index * 8), kPageSize));
    auto* layout = new QVBoxLayout(frame);

    auto addFields = [this, index](QGridLayout* grid, Group group) {
        for (Field which : kAllFields) {
            const Place& place = fieldTextOf(which).place;
            if (place.page != index || place.group != group)
                continue;
            QWidget* widget = createField(which);
            auto* label = new QLabel(parameterText(fieldTextOf(which).label));
            label->setBuddy(widget);
            grid->addWidget(label, place.row, 2 * place.column);
            grid->addWidget(widget, place.row, 2 * place.column + 1);
        }
        return grid->count() > 0;
    };

    auto* ungrouped = new QGridLayout;
    if (addFields(ungrouped, Group::None))
        layout->addLayout(ungrouped);
    else
        delete ungrouped;
    for (const captions::GroupFrame& groupFrame : captions::kGroups) {
        auto* group = new QGroupBox(captions::text(groupFrame.caption), frame);
        auto* grid = new QGridLayout(group);
        if (!addFields(grid, groupFrame.group)) {
            delete group;
            continue;
        }
        group->setObjectName(QString::fromLatin1(groupFrame.name));
        // Without a name of its own a frame inside a page would be announced by the page's caption.
        group->setAccessibleName(group->title());
        if (groupFrame.orange) {
            setColor(group, QPalette::Window, kLightOrange);
            grid->setVerticalSpacing(4);
        }
        layout->addWidget(group);
    }
    layout->addStretch();
    return frame;
}

QWidget* MainForm::createField(Field which)
{
    const Parameter& parameter = parameterOf(which);
    QWidget* widget = nullptr;
    if (parameter.isDropDown()) {
        auto* box = new QComboBox;
        box->setEditable(false);
        for (const char* entry : entryTexts(parameter))
            box->addItem(parameterText(entry));
        box->setCurrentIndex(-1);
        widget = box;
    } else {
        auto* edit = new FieldEdit(parameter.layout);
        if (const int limit = captions::maxLength(parameter.layout))
            new TypingLimit(limit, edit);
        widget = edit;
    }
    widget->setObjectName(QString::fromLatin1(parameter.name));
    const FieldText& texts = fieldTextOf(which);
    widget->setAccessibleName(parameterText(texts.label));
    if (texts.tooltip)
        widget->setToolTip(parameterText(texts.tooltip));
    m_fields[static_cast<size_t>(which)] = widget;
    return widget;
}

void MainForm::createButtonsAndLog()
{
    Frame1 = new QGroupBox(captions::text(captions::kMessages), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setAccessibleName(Frame1->title());
    Frame1->setGeometry(12, 390, px(6615), px(1730));
    Help_Text = new QPlainTextEdit(Frame1);
    Help_Text->setObjectName(QStringLiteral("Help_Text"));
    Help_Text->setReadOnly(true);
    Help_Text->setAccessibleName(captions::text(captions::kMessages));
    Help_Text->setGeometry(8, 20, px(6375), px(1400) - 6);
    Help_Text->setMaximumBlockCount(kLogLineLimit);
    Help_Text->setUndoRedoEnabled(false);
    setColor(Help_Text, QPalette::Base, kLightBlue);

    const int right = 462;
    L_Default = new QPushButton(captions::text(captions::kDefaults), this);
    L_Default->setObjectName(QStringLiteral("L_Default"));
    L_Default->setGeometry(right, 398, 58, 28);

    Setting = new QPushButton(captions::text(captions::kSetting), this);
    Setting->setObjectName(QStringLiteral("Setting"));
    Setting->setGeometry(right + 63, 398, 58, 28);

    Run_Device = new QPushButton(captions::text(captions::kRun), this);
    Run_Device->setObjectName(QStringLiteral("Run_Device"));
    Run_Device->setToolTip(captions::text(captions::kRunTip));
    setBold(Run_Device);
    Run_Device->setGeometry(right, 434, 121, 30);

    Exit_Command = new QPushButton(captions::text(captions::kExit), this);
    Exit_Command->setObjectName(QStringLiteral("Exit_Command"));
    setBold(Exit_Command);
    Exit_Command->setGeometry(right, 472, 121, 30);
}

void MainForm::createFooter()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(badge());
    Image1->setGeometry(12, 512, 128, 28);

    DISP_IP = new QLabel(this);
    DISP_IP->setObjectName(QStringLiteral("DISP_IP"));
    DISP_IP->move(150, 509);
    setColor(DISP_IP, QPalette::WindowText, Qt::red);

    Label5 = new QLabel(QString::fromLatin1(captions::kWebAddress), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->move(150, 526);
    Label5->adjustSize();
    setColor(Label5, QPalette::WindowText, Qt::blue);

    Label1 = new QLabel(QString::fromLatin1(captions::kVersion), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->adjustSize();
    Label1->move(width() - 12 - Label1->width(), 520);
}

// ---- Pages --------------------------------------------------------------------------------------

void MainForm::Parameters_Click()
{
    showPage(Parameters->currentIndex() + 1);
}

// Shows the page of tab `tab` (1-4) in its place and hides the others.
void MainForm::showPage(int tab)
{
    if (tab < 1 || tab > 4)
        return;
    for (int i = 0; i < 4; ++i) {
        if (i != tab - 1)
            m_pages[static_cast<size_t>(i)]->hide();
    }
    QGroupBox* page = m_pages[static_cast<size_t>(tab - 1)];
    page->move(kPageOrigin);
    page->show();
    page->raise();
}

} // namespace tarvik
