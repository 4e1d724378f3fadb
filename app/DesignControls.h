#pragma once

// The main window's controls as the design draws them: their names, places, captions, headings'
// widths and tab order, and the menu bar above them. Building them is all this does; the
// window (TMainForm) connects and fills them.

#include "UserDialogs.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QWidget;
class StatusPanels;
class StringGrid;
class TSpinEdit;

// Where the design puts the window when the settings say nothing.
constexpr int kDesignLeft = 386;
constexpr int kDesignTop = 59;

struct DesignControls {
    // The menu bar above the design's arrangement and its menus; each feature adds its own
    // actions (BuildMenus). The design's controls sit in ClientArea at the design's places.
    QMenuBar* MenuBar = nullptr;
    QMenu* FileMenu = nullptr;    // "Файл"
    QMenu* ViewMenu = nullptr;    // "Вид"
    QMenu* ServiceMenu = nullptr; // "Сервис"
    QMenu* HelpMenu = nullptr;    // "Справка"
    QWidget* ClientArea = nullptr;

    // Controls, named as in the design.
    QGroupBox* GroupBox2 = nullptr;
    QLabel* lbSerial = nullptr;
    TSpinEdit* speSerial = nullptr;
    QLabel* Label1 = nullptr;
    TSpinEdit* speAddr = nullptr;
    QLabel* lbComment = nullptr;
    QLineEdit* edComment = nullptr;
    QPushButton* btReadInfo = nullptr;
    QPushButton* btWriteInfo = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    StringGrid* StringGrid1 = nullptr; // channel 1 data
    StringGrid* StringGrid2 = nullptr; // channel 1 settings
    StringGrid* StringGrid3 = nullptr; // channel 2 data
    StringGrid* StringGrid4 = nullptr; // channel 2 settings
    QPushButton* bt_DF_Read = nullptr;
    QPushButton* btSaveToTxt = nullptr;
    QPushButton* btExportToExel = nullptr;
    QPushButton* btExportToOOo = nullptr;
    QLabel* lbTXE = nullptr;
    QLabel* lbRXE = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    StatusPanels* StatusBar = nullptr; // panel 0: port, panel 1: identification text
    FileSaveDialog SaveDialog;         // lives as long as the window

    // Creates every control inside window (its font, fixed size, title and object names set);
    // the design's sizes grow together when its captions need more room with the font at hand.
    void BuildDesign(QWidget& window);
    // The design's tab order and each control's name (BuildDesign's last step).
    void NameAndOrderControls();
};
