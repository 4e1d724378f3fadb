#pragma once

// The port doctor's check: the surveyed ports asked for the controller's identification, each
// through a link of the check's own, opened on the port it probes and closed afterwards. A port
// this program holds open (the window's link, a download) is never opened a second time nor
// talked to: its row says it is open here.

#include "PortSurvey.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

// Asks every Ready row's port for the identification text (the others get "—"; so does a port
// this program holds open, whose row is marked openHere), calling afterEach with the row's index
// after each, and stopping early when stop says so; then fills in what opening each port
// reported about low latency. The ports are opened through the map the survey was made with.
// Requests go to the network address given.
void CheckReadyPorts(SurveyReport& report, const PortMap& ports, int speed,
                     const std::function<bool()>& stop = {},
                     const std::function<void(std::size_t)>& afterEach = {},
                     std::uint8_t address = 1);

// Asks the device on the port for its identification text through a link of its own: the text,
// or "нет ответа", or "не открывается". Touches no other link.
QString ProbeIdentification(const PortMap& ports, int port, int speed, std::uint8_t address = 1);
