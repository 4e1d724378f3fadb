#pragma once

// The port doctor's check: the surveyed ports asked for the controller's identification through
// the link, which keeps the device it has open.

#include "PortSurvey.h"

#include <QString>

#include <cstddef>
#include <functional>

// Asks every Ready row's port for the identification text (the others get "—"), calling
// afterEach with the row's index after each, and stopping early when stop says so; then fills in
// what opening each port reported about low latency.
void CheckReadyPorts(SurveyReport& report, int speed, const std::function<bool()>& stop = {},
                     const std::function<void(std::size_t)>& afterEach = {});

// Asks the device on the port for its identification text: the text, or "нет ответа", or
// "не открывается". The link's current port and address are the same afterwards (the current
// port is opened again when another was probed).
QString ProbeIdentification(int port, int speed);
