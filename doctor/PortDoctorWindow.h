#pragma once

// "Диагностика порта": one row per serial device (and per port on the network the settings
// name) with what the survey found, a button that asks every port for the identification text
// (and a box on the network whether it answers, with the round trip), one that gives the
// selected device a "COM" number, and one that gives a port on the network a number. The work is
// done by the survey and the check of the link library, which asks each port through a link of its
// own and leaves the ports this program holds alone; the window shows it.
//
// How the port doctor (doctor/) reports a failure: in the window, never in a message box: a port
// that cannot be opened or asked is its row's state and cause, and what concerns the whole window
// (no ports, the link busy, a network name not of its forms, the settings not written) is the
// note under the table. The settings' exception out of assignPort is caught here and becomes that
// note. The exchange log's view says in its text when the log is off.

#include "PortSurvey.h"

#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

// What the window needs from the program.
struct PortDoctorHooks {
    // Gives the device the number in the settings and in the link's port map; throws
    // std::runtime_error when the settings cannot be written.
    std::function<void(int port, const QString& device)> assignPort;
    // The port map the ports are surveyed and opened through (the window's link's); none given:
    // every number is the machine's.
    std::function<PortMap()> ports;
    // True while the main window talks to the controller: then no port is probed.
    std::function<bool()> linkBusy;
    // The network address the check asks (the window's); 1 when not given.
    std::function<std::uint8_t()> address;
    int speed = 115200;
};

class PortDoctorWindow : public QWidget {
    Q_OBJECT

public:
    explicit PortDoctorWindow(PortDoctorHooks hooks, SurveyRoots roots = {},
                              QWidget* parent = nullptr);

    QTableWidget* Table = nullptr;
    QPushButton* RefreshButton = nullptr; // "Обновить"
    QPushButton* CheckButton = nullptr;   // "Проверить"
    QPushButton* AssignButton = nullptr;  // "Назначить номер COM…"
    QPushButton* NetworkButton = nullptr; // "Сетевой порт…"
    QLabel* Notes = nullptr;

    // Surveys the ports again and shows the rows.
    void Refresh();
    // Asks every port that can be opened for its identification text, row by row; the window
    // keeps repainting in between.
    void CheckPorts();
    // Gives the device of the row the number, then surveys again. False (with the reason shown
    // in Notes) when the settings cannot be written.
    bool AssignPort(int row, int port);
    // Gives a port on the network ("tcp://HOST:PORT", "rfc2217://HOST:PORT") the number, then
    // surveys again. False (with the reason shown in Notes) when the address is not one of those
    // forms or the settings cannot be written.
    bool AssignNetworkPort(const QString& address, int port);

    const SurveyReport& Report() const { return report_; }

private:
    void ShowReport();
    void AskAndAssign();
    void AskAndAssignNetwork();
    bool Assign(int port, const QString& device);
    PortMap Ports() const { return hooks_.ports ? hooks_.ports() : PortMap(); }

    PortDoctorHooks hooks_;
    SurveyRoots roots_;
    SurveyReport report_;
    bool checking_ = false;
};
