#include "DesignControls.h"

#include "SpinEdit.h"
#include "StatusPanels.h"
#include "StringGrid.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

constexpr int kClientWidth = 649;
constexpr int kClientHeight = 614;

constexpr int kDataGridRows = 4220;
constexpr int kSettingsGridRows = 5;
constexpr int kGridRowHeight = 16;

std::vector<int> DataColumnWidths() {
    std::vector<int> widths(14, 37);
    widths[1] = 50;
    widths[2] = 47;
    return widths;
}

std::vector<int> SettingsColumnWidths() {
    return std::vector<int>(16, 47);
}

QLabel* MakeLabel(const QString& text, int left, int top, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPushButton* MakeButton(const QString& text, const QRect& rect, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

// How much the design must grow so that every caption and heading fits with the given font:
// each text against the room the design gives it (a little is kept for frames and padding).
double DesignScale(const QFontMetrics& fm) {
    struct Room {
        const char* text;
        int width;
        int padding;
    };
    const Room rooms[] = {
        {"Прочитать данные из регулятора", 185, 14},
        {"Сохранить в текстовый файл", 185, 14},
        {"Экспорт в OOCalc", 113, 14},
        {"Экспорт в Excel", 113, 14},
        {"Изменить", 75, 14},
        {"Серийный номер:", 104, 2},
        {"Сетевой адрес:", 94, 2},
        {"Тнач.от.", 47, 6},
        {"Тизл.от.", 47, 6},
        {"Защ.инт.", 47, 6},
        {"Тип рег.", 47, 6},
        {"Ккорр.", 47, 6},
        {"Тграф", 37, 6},
        {"Ттреб", 37, 6},
        {"tвозд", 37, 6},
        {"Тнар.", 37, 6},
        {"Время", 47, 6},
    };
    double scale = 1.0;
    for (const Room& room : rooms) {
        const int needed = fm.horizontalAdvance(QString::fromUtf8(room.text)) + room.padding;
        scale = std::max(scale, static_cast<double>(needed) / room.width);
    }
    return std::min(scale, 2.0);
}

} // namespace

void DesignControls::BuildDesign(QWidget& window) {
    window.setObjectName(QStringLiteral("MainForm"));
    window.setWindowTitle(QStringLiteral("Лорк КВ-9000Л"));
    // The design was drawn for an 8-point font of another system; the font here is chosen close
    // to it, and the whole arrangement grows together when its captions and headings need more
    // room.
    QFont designFont = window.font();
    designFont.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                            QStringLiteral("Nimbus Sans"), window.font().family()});
    designFont.setPixelSize(11);
    window.setFont(designFont);
    const double scale = DesignScale(QFontMetrics(designFont));
    const auto S = [scale](int v) { return qRound(v * scale); };
    const auto R = [&S](int l, int t, int w, int h) { return QRect(S(l), S(t), S(w), S(h)); };
    const auto Scaled = [&S](std::vector<int> widths) {
        for (int& w : widths)
            w = S(w);
        return widths;
    };
    // The menu bar sits above the design's arrangement, which keeps its places inside a client
    // area of the design's size; the window's fixed height grows by the bar.
    MenuBar = new QMenuBar(&window);
    MenuBar->setObjectName(QStringLiteral("MenuBar"));
    FileMenu = MenuBar->addMenu(QStringLiteral("&Файл"));
    ViewMenu = MenuBar->addMenu(QStringLiteral("&Вид"));
    ServiceMenu = MenuBar->addMenu(QStringLiteral("&Сервис"));
    HelpMenu = MenuBar->addMenu(QStringLiteral("С&правка"));
    ClientArea = new QWidget(&window);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setFixedSize(S(kClientWidth), S(kClientHeight));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MenuBar);
    layout->addWidget(ClientArea);
    window.setFixedSize(S(kClientWidth), S(kClientHeight) + MenuBar->sizeHint().height());
    QWidget* const area = ClientArea;

    GroupBox2 = new QGroupBox(QStringLiteral(" Информация "), area);
    GroupBox2->setGeometry(R(8, 8, 633, 89));
    lbSerial = MakeLabel(QStringLiteral("Серийный номер:"), S(24), S(24), GroupBox2);
    speSerial = new TSpinEdit(GroupBox2);
    speSerial->setGeometry(R(24, 39, 89, 22));
    speSerial->setRange(1, 65535);
    speSerial->setValue(1);
    speSerial->setReadOnly(true);
    Label1 = MakeLabel(QStringLiteral("Сетевой адрес:"), S(128), S(24), GroupBox2);
    speAddr = new TSpinEdit(GroupBox2);
    speAddr->setGeometry(R(128, 39, 81, 22));
    speAddr->setRange(1, 127);
    speAddr->setValue(1);
    lbComment = MakeLabel(QStringLiteral("Место установки регулятора:"), S(222), S(24), GroupBox2);
    edComment = new QLineEdit(GroupBox2);
    edComment->setGeometry(R(224, 40, 289, 21));
    edComment->setMaxLength(31);
    btReadInfo = MakeButton(QStringLiteral("Прочитать"), R(424, 40, 75, 25), GroupBox2);
    btReadInfo->hide();
    btWriteInfo = MakeButton(QStringLiteral("Изменить"), R(536, 38, 75, 25), GroupBox2);

    PageControl1 = new QTabWidget(area);
    PageControl1->setGeometry(R(8, 112, 633, 409));
    PageControl1->setTabPosition(QTabWidget::South);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Канал 1"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Канал 2"));
    PageControl1->setCurrentIndex(0);

    Label5 = MakeLabel(QStringLiteral("Данные"), S(24), S(5), TabSheet1);
    Label7 = MakeLabel(QStringLiteral("Данные"), S(24), S(5), TabSheet2);
    Label6 = MakeLabel(QStringLiteral("Настройки"), S(24), S(253), TabSheet1);
    Label8 = MakeLabel(QStringLiteral("Настройки"), S(24), S(253), TabSheet2);
    StringGrid1 =
        new StringGrid(14, kDataGridRows, Scaled(DataColumnWidths()), S(kGridRowHeight), TabSheet1);
    StringGrid3 =
        new StringGrid(14, kDataGridRows, Scaled(DataColumnWidths()), S(kGridRowHeight), TabSheet2);
    StringGrid2 = new StringGrid(16, kSettingsGridRows, Scaled(SettingsColumnWidths()),
                                 S(kGridRowHeight), TabSheet1);
    StringGrid4 = new StringGrid(16, kSettingsGridRows, Scaled(SettingsColumnWidths()),
                                 S(kGridRowHeight), TabSheet2);
    for (StringGrid* g : {StringGrid1, StringGrid3})
        g->setGeometry(R(24, 20, 577, 224));
    for (StringGrid* g : {StringGrid2, StringGrid4})
        g->setGeometry(R(24, 268, 577, 88));

    bt_DF_Read =
        MakeButton(QStringLiteral("Прочитать данные из регулятора"), R(16, 536, 185, 25), area);
    btSaveToTxt =
        MakeButton(QStringLiteral("Сохранить в текстовый файл"), R(208, 536, 185, 25), area);
    btExportToExel = MakeButton(QStringLiteral("Экспорт в Excel"), R(400, 536, 113, 25), area);
    btExportToOOo = MakeButton(QStringLiteral("Экспорт в OOCalc"), R(520, 536, 113, 25), area);
    btExportToOOo->setToolTip(QStringLiteral("http://www.openoffice.org"));

    lbTXE = MakeLabel(QStringLiteral("lbTXE"), S(24), S(568), area);
    lbRXE = MakeLabel(QStringLiteral("lbRXE"), S(112), S(568), area);
    lbTXE->hide();
    lbRXE->hide();

    ProgressBar1 = new QProgressBar(area);
    ProgressBar1->setGeometry(R(0, 579, kClientWidth, 16));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    StatusBar = new StatusPanels(S(50), area);
    StatusBar->setGeometry(R(0, 595, kClientWidth, 19));

    SaveDialog.DefaultExt = QStringLiteral("*.txt");
    SaveDialog.Filter = QStringLiteral("txt|*.txt");
    SaveDialog.OverwritePrompt = true;
    NameAndOrderControls();
}

void DesignControls::NameAndOrderControls() {
    // Tab order of the design: the buttons and pages, then the group box with its fields.
    QWidget* order[] = {bt_DF_Read,  PageControl1, StringGrid1,    StringGrid2,  StringGrid3,
                        StringGrid4, btSaveToTxt,  btExportToExel, speSerial,    edComment,
                        btReadInfo,  btWriteInfo,  speAddr,        btExportToOOo};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    const QList<QObject*> named = {
        GroupBox2,    lbSerial,    speSerial,      Label1,        speAddr,     lbComment,
        edComment,    btReadInfo,  btWriteInfo,    PageControl1,  Label5,      Label6,
        Label7,       Label8,      StringGrid1,    StringGrid2,   StringGrid3, StringGrid4,
        bt_DF_Read,   btSaveToTxt, btExportToExel, btExportToOOo, lbTXE,       lbRXE,
        ProgressBar1, StatusBar};
    const char* names[] = {"GroupBox2",      "lbSerial",      "speSerial",   "Label1",
                           "speAddr",        "lbComment",     "edComment",   "btReadInfo",
                           "btWriteInfo",    "PageControl1",  "Label5",      "Label6",
                           "Label7",         "Label8",        "StringGrid1", "StringGrid2",
                           "StringGrid3",    "StringGrid4",   "bt_DF_Read",  "btSaveToTxt",
                           "btExportToExel", "btExportToOOo", "lbTXE",       "lbRXE",
                           "ProgressBar1",   "StatusBar"};
    for (qsizetype i = 0; i < named.size(); ++i)
        named[i]->setObjectName(QString::fromLatin1(names[i]));
}
